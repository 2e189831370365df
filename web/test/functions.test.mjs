// functions.test.mjs - the custom functions in Node against the native module: every example sheet
// and the entry-point tables' cases (entries.csv) recalculated both ways, the benchmark's recorded
// answers through both modules (baseline and SIMD), the random sequence, and the contract's
// association of every id.
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { test } from 'node:test';

import { Dist, Root, inFreshLoad, nativeSheet, native, sameAsNative } from './support.mjs';

const sheets = [
  ...readdirSync(`${Root}examples`).filter((f) => f.endsWith('.csv') && !f.endsWith('.expected.csv'))
    .map((f) => `${Root}examples/${f}`),
  `${Root}web/test/entries.csv`,
];

for (const path of sheets) {
  test(`${path.slice(Root.length)}: every formula answers the native module's bits`, async () => {
    const expected = nativeSheet(path);
    const answers = await inFreshLoad('sheet', { csv: readFileSync(path, 'utf8') });
    assert.ok(answers.length > 0);
    for (const { row, column, formula, answer } of answers) {
      const cells = Array.isArray(answer) ? answer[0] : [answer];
      cells.forEach((cell, k) => {
        const text = expected[row][column + k];
        assert.ok(sameAsNative(text, cell), `${formula} at row ${row + 1}: native ${text}, web ${cell}`);
      });
    }
  });
}

test('random numbers from a fresh load follow the native sequence', async () => {
  const formulas = Array.from({ length: 60 }, (_, k) => (k % 3 === 2 ? '=RandDist(10,2.5)' : '=RandNorm()'));
  const expected = native('eval', ...formulas).trim().split('\n').map((line) => line.split('  ->  ')[1]);
  const calls = formulas.map((f) => (f === '=RandNorm()' ? ['RANDNORM', []] : ['RANDDIST', [10, 2.5]]));
  const answers = await inFreshLoad('calls', { calls });
  answers.forEach((a, k) => assert.ok(sameAsNative(expected[k], a), `draw ${k}: native ${expected[k]}, web ${a}`));
});

for (const module of ['quorin.wasm', 'quorin-simd.wasm']) {
  test(`bench/answers.txt, recorded from the native module, bit for bit through ${module}`, async () => {
    const recorded = readFileSync(`${Root}bench/answers.txt`, 'utf8').split('\n');
    const answers = (await inFreshLoad('answers', { module })).split('\n');
    assert.equal(answers.length, recorded.length);
    answers.forEach((line, k) => assert.equal(line, recorded[k], `line ${k + 1}`));
  });
}

test('functions.js associates every id of functions.json and nothing else', async () => {
  const metadata = JSON.parse(readFileSync(`${Dist}functions.json`, 'utf8'));
  const ids = await inFreshLoad('associated');
  assert.deepEqual(ids.sort(), metadata.functions.map((f) => f.id).sort());
});
