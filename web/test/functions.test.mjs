// functions.test.mjs - the custom functions in Node against the native module: every call of every
// example sheet and of the entry-point tables' cases (entries.csv) as quorin-host makes it, made again
// alone and in batches; batches against single calls; a failed load; the benchmark's recorded answers
// through both modules (baseline and SIMD); the random sequence; the association of every id.
import assert from 'node:assert/strict';
import { cpSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { test } from 'node:test';

import { Dist, Root, inFreshLoad, native, sameAsNative } from './support.mjs';

const sheets = [
  ...readdirSync(`${Root}examples`).filter((f) => f.endsWith('.csv') && !f.endsWith('.expected.csv'))
    .map((f) => `${Root}examples/${f}`),
  `${Root}web/test/entries.csv`,
];

// Each call's native answer, and the same call through the custom functions in a fresh load: alone,
// and again with every call of the sheet in one batch.
for (const path of sheets) {
  for (const batched of [false, true]) {
    test(`${path.slice(Root.length)}: every call answers the native module's bits${batched ? ', in one batch' : ''}`, async () => {
      const calls = native('sheet', path, '--calls').trim().split('\n').map((line) => JSON.parse(line));
      const answers = await inFreshLoad('replay', { calls, batched });
      assert.ok(calls.length > 0);
      calls.forEach((call, k) => {
        const cells = Array.isArray(answers[k]) ? answers[k][0] : [answers[k]];
        const text = JSON.stringify(call.arguments);
        assert.equal(cells.length, call.answer.length, `${call.function}(${text})`);
        cells.forEach((cell, c) => assert.ok(sameAsNative(call.answer[c], cell),
          `${call.function}(${text}): native ${call.answer[c]}, web ${cell}`));
      });
    });
  }
}

test('random numbers from a fresh load follow the native sequence; a value preview draws none', async () => {
  const formulas = Array.from({ length: 60 }, (_, k) => (k % 3 === 2 ? '=RandDist(10,2.5)' : '=RandNorm()'));
  const expected = native('eval', ...formulas).trim().split('\n').map((line) => line.split('  ->  ')[1]);
  const preview = { isInValuePreview: true };
  const calls = formulas.flatMap((f, k) => {
    const call = f === '=RandNorm()' ? ['RANDNORM', []] : ['RANDDIST', [10, 2.5]];
    return k % 7 === 3 ? [[call[0], [...call[1], preview]], call] : [call];
  });
  const answers = await inFreshLoad('calls', { calls });
  const previewed = (k) => calls[k][1].length > 0 && calls[k][1].at(-1).isInValuePreview;
  assert.deepEqual(new Set(answers.filter((_, k) => previewed(k))), new Set(['#ERR999']));
  const drawn = answers.filter((_, k) => !previewed(k));
  assert.equal(drawn.length, expected.length);
  drawn.forEach((a, k) => assert.ok(sameAsNative(expected[k], a), `draw ${k}: native ${expected[k]}, web ${a}`));
});

// Each batch's answers are the calls' answers alone: ranges under one address on two sheets are not
// shared, a range whose values change is staged again in the next batch, a refused point or flag
// stays its call's own, arrays without an address (other functions' answers) are never shared.
test('batches answer what each call answers alone', async () => {
  const x = [[0], [1], [2.5], [4]];
  const y = [[1], [-2], [0.5], [3]];
  const other = [[0], [2], [3], [5]];
  const table = [[0, 1, 2], [1, 10, 20], [2, 30, 40]];
  const batches = [
    [
      ['INTERP1', [x, y, 1.7, 0], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['INTERP1', [other, y, 1.7, 0], ['Sheet2!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['INTERP1', [x, y, 5, 1], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['INTERP1', [x, y, 'x', 0], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['SPLINE', [x, y, 3.2], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['SPLINE', [x, y, -1], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['LAGRANGE', [x, y, 0.3], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['POLYNOMIAL', [y, 0.3], ['Sheet1!$B$1:$B$4']],
      ['INTERP2', [table, 1.5, 1.5, 0], ['Sheet1!$D$1:$F$3']],
      ['INTERP2', [table, 3, 0.5, 1], ['Sheet1!$D$1:$F$3']],
      ['COUNTBETWEEN', [y, 0, 2], ['Sheet1!$B$1:$B$4']],
      ['LLSQ', [x, y, 2], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['LLSQ', [x, y, 3], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
      ['LLSQLC', [x, y, 2, [[0]], [[1]]], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4', null, 'Sheet1!$C$1', 'Sheet1!$C$2']],
      ['SPLINE', [[[0], [1], [1], [3]], y, 0.5], ['Sheet1!$H$1:$H$4', 'Sheet1!$B$1:$B$4']],
      ['INTERP1', [x, y, 2, 0], [null, null]],
      ['POLYNOMIAL', [[[1, 2]], 0.5], ['']],
      ['POLYNOMIAL', [[[3, 4]], 0.5], ['']],
      ['INTERP1', [x, y, 2], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']],
    ],
    [['INTERP1', [other, y, 1.7, 0], ['Sheet1!$A$1:$A$4', 'Sheet1!$B$1:$B$4']]],
  ];
  const { batched, alone } = await inFreshLoad('batches', { batches });
  assert.deepEqual(batched, alone);
  assert.notDeepEqual(batched[0][0], batched[0][1]);
  // The native engine refuses a formula that leaves an argument out before any call: the contract's #VALUE!.
  assert.deepEqual(batched[0].at(-1), [['#VALUE!']]);
});

test('a module that failed to load answers #N/A with its reason, and is loaded by a later call', async () => {
  const dist = mkdtempSync(join(tmpdir(), 'quorin-dist-'));
  try {
    cpSync(Dist, dist, { recursive: true, filter: (path) => !path.endsWith('.wasm') });
    const answers = await inFreshLoad('reload', { dist: pathToFileURL(`${dist}/`).href, modules: pathToFileURL(Dist).href });
    assert.deepEqual(answers.failed, [['#ERR999']]);
    assert.equal(answers.message, 'StudentT: the module could not be loaded');
    assert.equal(typeof answers.recovered[0][0], 'number');
  } finally {
    rmSync(dist, { recursive: true, force: true });
  }
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
