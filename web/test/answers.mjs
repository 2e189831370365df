// answers.mjs - bench/answers.txt through the custom functions: the benchmark's randomised inputs,
// made as bench/quorin_bench.cpp makes them (splitmix64, the same operation order), each answer
// printed as its bit pattern, the add-in's failure as the error record the benchmark prints.

const Mask = (1n << 64n) - 1n;

export class Random {
  constructor(seed) {
    this.state = BigInt(seed) & Mask;
  }

  next() {
    this.state = (this.state + 0x9E3779B97F4A7C15n) & Mask;
    let z = this.state;
    z = ((z ^ (z >> 30n)) * 0xBF58476D1CE4E5B9n) & Mask;
    z = ((z ^ (z >> 27n)) * 0x94D049BB133111EBn) & Mask;
    return z ^ (z >> 31n);
  }

  uniform() {
    return Number(this.next() >> 11n) * 2 ** -53;
  }
}

export function uniformValues(n, seed, low, high) {
  const random = new Random(seed);
  return Array.from({ length: n }, () => low + (high - low) * random.uniform());
}

const column = (values) => values.map((v) => [v]);
const square = (values, side) => Array.from({ length: side }, (_, r) => values.slice(r * side, (r + 1) * side));

function bits(answer) {
  const word = (v) => {
    const view = new DataView(new ArrayBuffer(8));
    view.setFloat64(0, v);
    return view.getBigUint64(0).toString(16).padStart(16, '0');
  };
  // A function that reads ranges answers a matrix, one cell of it where the native answers one double.
  if (Array.isArray(answer) && answer[0].length === 1) return bits(answer[0][0]);
  if (answer instanceof globalThis.CustomFunctions.Error) return 'type16/999';
  if (Array.isArray(answer)) return answer[0].map((v) => `${word(v)} `).join('');
  return word(answer);
}

export function benchAnswers(f) {
  const lines = [];
  for (let seed = 1; seed <= 40; ++seed) {
    const random = new Random(BigInt(seed) * 1000003n);
    const n = 4 + Number(random.next() % BigInt(seed < 30 ? 60 : 5000));
    const xs = uniformValues(n, seed * 7 + 1, -3.0, 3.0);
    const X = column(xs);
    const Xs = column([...xs].sort((a, b) => a - b));
    const Y = column(uniformValues(n, seed * 7 + 2, -2.0, 2.0));
    const q = -3.5 + 7.0 * random.uniform();
    lines.push(`seed ${seed} n ${n}`);
    lines.push(`Interp1 ${bits(f.INTERP1(Xs, Y, q, 0))} ${bits(f.INTERP1(Xs, Y, q, 1))}`);
    lines.push(`CountBetween ${bits(f.COUNTBETWEEN(X, -1.0, q))}`);
    lines.push(`Spline ${bits(f.SPLINE(Xs, Y, q))}`);
    lines.push(`Polynomial ${bits(f.POLYNOMIAL(Y, q / 3.0))}`);
    if (n <= 64) lines.push(`Lagrange ${bits(f.LAGRANGE(Xs, Y, q))}`);
    for (const m of [2, 3, 4, 7, 8, 13, 20]) {
      if (m + 3 > n) continue;
      lines.push(`LLSQ.m${m} ${bits(f.LLSQ(X, Y, m))}`);
      for (const k of [1, 3]) {
        const Xc = column(uniformValues(k, seed * 7 + 3 + k, -3.0, 3.0));
        const Yc = column(uniformValues(k, seed * 7 + 5 + k, -1.0, 1.0));
        lines.push(`LLSQLC.m${m}k${k} ${bits(f.LLSQLC(X, Y, m, Xc, Yc))}`);
      }
    }
    const side = 3 + Number(random.next() % 40n);
    const table = square(uniformValues(side * side, seed * 7 + 6, -5.0, 5.0), side);
    for (const e of [0, 1]) lines.push(`Interp2 ${bits(f.INTERP2(table, q, -q, e))}`);
    lines.push(`StudentT ${bits(f.STUDENTT(seed * 37))}`);
    lines.push(`RandNorm ${bits(f.RANDNORM())}`);
    lines.push(`RandDist ${bits(f.RANDDIST(q, 1.5))}`);
  }
  return `${lines.join('\n')}\n`;
}
