// modules.mjs - the module's own time per call, without the conversion of Excel's values: the ranges
// staged once, then the export called alone, for the baseline module and the SIMD one in turn.
// Usage: node web/bench/modules.mjs [ROUNDS]   (after cmake --build --preset web)
import { pathToFileURL } from 'node:url';

import { Quorin } from '../quorin.js';
import { Dist } from '../test/support.mjs';
import { Random, uniformValues } from '../test/answers.mjs';

import { timePerCall } from './cases.mjs';

const n = 1000000;
const random = new Random(41);
const X = Array.from({ length: n }, (_, i) => [i + 0.5 * random.uniform()]);
const Y = uniformValues(n, 42, -1.0, 1.0).map((v) => [v]);
const U = uniformValues(n, 71, -1.0, 1.0).map((v) => [v]);
const V = uniformValues(n, 72, -1.0, 1.0).map((v) => [v]);

async function instance(file) {
  const { readFile } = await import('node:fs/promises');
  const { instance: loaded } = await WebAssembly.instantiate(await readFile(new URL(file, pathToFileURL(Dist))), {});
  loaded.exports._initialize?.();
  return new Quorin(loaded.exports);
}

const ms = (s) => `${(s * 1e3).toFixed(2)} ms`;
for (let round = 0; round < Number(process.argv[2] ?? 3); ++round) {
  for (const file of ['quorin.wasm', 'quorin-simd.wasm']) {
    const q = await instance(file);
    q.stage(0, X);
    q.stage(1, Y);
    const spline = timePerCall(() => q.exports.Spline(n / 2 + 0.25));
    q.stage(0, U);
    q.stage(1, V);
    const m4 = timePerCall(() => q.exports.LLSQ(4));
    const m20 = timePerCall(() => q.exports.LLSQ(20));
    console.log(`${file}: Spline ${ms(spline)}, LLSQ 4 terms ${ms(m4)}, LLSQ 20 terms ${ms(m20)} at 10^6 points`);
  }
}
