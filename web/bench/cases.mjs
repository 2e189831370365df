// cases.mjs - the benchmark's cases: each worksheet function per call through its custom function
// (Excel's values in: ranges as arrays of one-value rows, the answer out), on the inputs
// bench/quorin_bench.cpp builds for the native entry points, and the JavaScript peers doing the
// same work per call on plain arrays. Runs in Node and in a page alike; the npm peers are handed in.
import { Random, uniformValues } from '../test/answers.mjs';

// Strictly increasing: i + a jitter in [0, 0.5), as the native benchmark's IncreasingValues.
function increasingValues(n, seed) {
  const random = new Random(seed);
  return Array.from({ length: n }, (_, i) => i + 0.5 * random.uniform());
}

const column = (values) => values.map((v) => [v]);

// Math-based linear interpolation over columns as Excel passes them (one-value rows): bisection,
// then the interval's line; held at the ends.
function interpolateLinear(X, Y, x) {
  const n = X.length;
  if (x <= X[0][0]) return Y[0][0];
  if (x >= X[n - 1][0]) return Y[n - 1][0];
  let lo = 0;
  let hi = n - 1;
  while (hi > lo + 1) {
    const mid = (lo + hi) >> 1;
    if (x > X[mid][0]) lo = mid;
    else hi = mid;
  }
  return ((Y[hi][0] - Y[lo][0]) * (x - X[lo][0])) / (X[hi][0] - X[lo][0]) + Y[lo][0];
}

const values = (rows) => rows.map((row) => row[0]);

// Median seconds per call over five timed batches, each of at least minimum seconds; a call of a
// second or more is timed once.
export function timePerCall(call, minimum = 0.1) {
  const first = performance.now();
  call();
  const once = (performance.now() - first) / 1000;
  if (once >= 1) return once;
  let reps = 1;
  for (let start = performance.now(); performance.now() - start < minimum * 1000; reps *= 2) {
    const t0 = performance.now();
    for (let k = 0; k < reps; ++k) call();
    if (performance.now() - t0 >= minimum * 1000) break;
  }
  const batches = [];
  for (let b = 0; b < 5; ++b) {
    const t0 = performance.now();
    for (let k = 0; k < reps; ++k) call();
    batches.push((performance.now() - t0) / 1000 / reps);
  }
  return batches.sort((a, b) => a - b)[2];
}

// The cases at n values, each made when asked for, so that only one case's arrays live at a time:
// [() => ({ name, n, ours, peers: { label: call } })]. f maps ids to custom functions; each peer is
// given the same arrays of rows, and reads or converts them itself; peers holds the npm packages
// that are available (Spline: cubic-spline, PolynomialRegression:
// ml-regression-polynomial, jStat: jstat).
export function benchmarkCases(f, n, peers = {}) {
  const cases = [];
  cases.push(() => {
    const xs = increasingValues(n, 11);
    const ys = uniformValues(n, 12, -1.0, 1.0);
    const [X, Y] = [column(xs), column(ys)];
    const x = n / 2 + 0.25;
    return { name: 'Interp1', n, ours: () => f.INTERP1(X, Y, x, 0), peers: { 'Math linear': () => interpolateLinear(X, Y, x) } };
  });
  cases.push(() => {
    const xs = uniformValues(n, 31, 0.0, 1.0);
    const X = column(xs);
    const count = () => {
      let inside = 0;
      for (let r = 0; r < X.length; ++r) if (X[r][0] >= 0.25 && X[r][0] < 0.75) ++inside;
      return inside;
    };
    return { name: 'CountBetween', n, ours: () => f.COUNTBETWEEN(X, 0.25, 0.75), peers: { 'JS loop': count } };
  });
  cases.push(() => {
    const xs = increasingValues(n, 41);
    const ys = uniformValues(n, 42, -1.0, 1.0);
    const [X, Y] = [column(xs), column(ys)];
    const x = n / 2 + 0.25;
    const casePeers = {};
    // cubic-spline solves a dense (n + 1) x (n + 2) system: 1,000 points take seconds, 10^6 would
    // need 8 TB, so it is timed at 1,000 points only.
    if (peers.Spline && n <= 1000) casePeers['cubic-spline'] = () => new peers.Spline(values(X), values(Y)).at(x);
    return { name: 'Spline', n, ours: () => f.SPLINE(X, Y, x), peers: casePeers };
  });
  cases.push(() => {
    const cs = uniformValues(n, 61, -1.0, 1.0);
    const C = column(cs);
    const horner = () => {
      let sum = 0;
      for (let k = C.length - 1; k >= 0; --k) sum = sum * 0.5 + C[k][0];
      return sum;
    };
    return { name: 'Polynomial', n, ours: () => f.POLYNOMIAL(C, 0.5), peers: { 'JS Horner': horner } };
  });
  for (const terms of [4, 20]) cases.push(() => {
    const xs = uniformValues(n, 71, -1.0, 1.0);
    const ys = uniformValues(n, 72, -1.0, 1.0);
    const [X, Y] = [column(xs), column(ys)];
    const casePeers = {};
    if (peers.PolynomialRegression) {
      casePeers['ml-regression-polynomial'] = () => new peers.PolynomialRegression(values(X), values(Y), terms - 1).coefficients;
    }
    return { name: `LLSQ.m${terms}`, n, ours: () => f.LLSQ(X, Y, terms), peers: casePeers };
  });
  return cases;
}

export function studentTCase(f, peers = {}) {
  let dof = 1;
  const next = () => (dof = dof === 1000 ? 1 : dof + 1);
  const casePeers = {};
  if (peers.jStat) casePeers['jStat studentt.inv'] = () => peers.jStat.studentt.inv(0.975, next());
  return { name: 'StudentT', n: 1, ours: () => f.STUDENTT(next()), peers: casePeers };
}

// Runs the cases at each size; answers rows { name, n, ours, peer, peerSeconds } in seconds per call.
export function runBenchmark(f, sizes, peers = {}, minimum = 0.1, report = null) {
  const rows = [];
  const measure = (c) => {
    const ours = timePerCall(c.ours, minimum);
    const timed = Object.entries(c.peers).map(([label, call]) => ({ label, seconds: timePerCall(call, minimum) }));
    const best = timed.sort((a, b) => a.seconds - b.seconds)[0];
    rows.push({ name: c.name, n: c.n, ours, peer: best?.label ?? '', peerSeconds: best?.seconds ?? NaN });
    report?.(rows[rows.length - 1]);
  };
  measure(studentTCase(f, peers));
  for (const n of sizes) for (const make of benchmarkCases(f, n, peers)) measure(make());
  return rows;
}

// Median seconds of five runs of an asynchronous job, after three untimed runs that let the engine
// compile the code the job runs.
export async function timeJob(job) {
  for (let k = 0; k < 3; ++k) await job();
  const runs = [];
  for (let k = 0; k < 5; ++k) {
    const t0 = performance.now();
    await job();
    runs.push((performance.now() - t0) / 1000);
  }
  return runs.sort((a, b) => a - b)[2];
}

// The filled-down column: cells formulas of one function over one table of n rows, its ranges as
// Excel hands them (arrays of one-value rows, the x column whole numbers), each cell at its own x.
// Answers [{ name, n, cells, alone, batch }] in seconds per column: alone, each call answered before
// the next is made, as a host without addresses calls; batch, every call made in one tick with the
// addresses of its ranges, as one recalculation calls them.
export async function runColumns(f, n = 100000, cells = 1000, report = null) {
  const whole = (count) => Array.from({ length: count }, (_, i) => [i]);
  const at = (count, span) => Array.from({ length: cells }, (_, k) => ((k + 0.37) * span) / count);
  const table = ['Sheet1!$A$2:$A$100001', 'Sheet1!$B$2:$B$100001'];
  // Each case made when its turn comes, so that one case's arrays live at a time.
  const columns = [
    () => ({ name: 'Interp1', ranges: [whole(n), column(uniformValues(n, 12, -1.0, 1.0))], xs: at(cells, n - 1), tail: [0] }),
    () => ({ name: 'Spline', ranges: [whole(n), column(uniformValues(n, 42, -1.0, 1.0))], xs: at(cells, n - 1), tail: [] }),
    () => ({ name: 'Lagrange', ranges: [whole(20), column(uniformValues(20, 52, -1.0, 1.0))], xs: at(cells, 19), tail: [] }),
    () => ({ name: 'Polynomial', ranges: [column(uniformValues(n, 61, -1.0, 1.0))], xs: at(cells, 2).map((x) => x - 1), tail: [] }),
  ];
  const rows = [];
  for (const make of columns) {
    const { name, ranges, xs, tail } = make();
    const fn = f[name.toUpperCase()];
    const invocation = { parameterAddresses: table.slice(0, ranges.length), isInValuePreview: false };
    const alone = await timeJob(async () => {
      for (const x of xs) await fn(...ranges, x, ...tail);
    });
    const batch = await timeJob(() => Promise.all(xs.map((x) => fn(...ranges, x, ...tail, invocation))));
    rows.push({ name, n: ranges[0].length, cells, alone, batch });
    report?.(rows[rows.length - 1]);
  }
  return rows;
}

// Seconds per value, at n values: building a column of one-value rows as a host hands a range over
// (whole numbers, fractions), and one call converting such a column (CountBetween, whose work beside
// the conversion is one comparison a value), whole numbers then fractions, and the two alternating.
export function argumentCosts(f, n = 100000) {
  const whole = () => Array.from({ length: n }, (_, i) => [i]);
  const fractions = () => Array.from({ length: n }, (_, i) => [i + 0.5]);
  const [W, F] = [whole(), fractions()];
  const perValue = (call, values = n) => timePerCall(call) / values;
  return {
    buildWhole: perValue(whole),
    buildFractions: perValue(fractions),
    convertWhole: perValue(() => f.COUNTBETWEEN(W, 0, 1)),
    convertFractions: perValue(() => f.COUNTBETWEEN(F, 0, 1)),
    convertAlternating: perValue(() => [f.COUNTBETWEEN(W, 0, 1), f.COUNTBETWEEN(F, 0, 1)], 2 * n),
  };
}
