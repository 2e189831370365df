// page.test.mjs - dist/ served over local HTTPS with the page's Content-Security-Policy, Office's
// library replaced by office-stub.js, and the same tests in every engine of engines.mjs (Chromium and
// WebKitGTK): the custom functions give bench/answers.txt bit for bit inside the page, with the SIMD
// module and with the baseline one an engine without SIMD loads; the reference lists the catalogue;
// each plot is drawn with the module's answers on labelled axes from the used part of a whole-column
// selection, 2 * 10^5 points among them; a refused selection shows its rule; nothing reaches the console.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { after, before, describe, test } from 'node:test';

import { EngineNames, openEngine } from './engines.mjs';
import { Dist, Root } from './support.mjs';
import { serveDist } from './server.mjs';

const Recorded = readFileSync(`${Root}bench/answers.txt`, 'utf8');
const FivePoints = [[0, 0], [1, 1], [2, 0], [3, 1], [4, 0]];
const WholeColumns = { top: 0, left: 0, rows: 1048576, columns: 2 };

// In the page: each function runs there from its source alone.
const referenceShown = () => new Promise((resolve) => {
  const poll = () => (document.querySelectorAll('#reference h3').length > 0 ? resolve() : setTimeout(poll, 20));
  poll();
});

// A call before the module has loaded answers a promise; awaiting one waits for the load, after which
// the module's fetch is listed and every call answers at once.
const answersInPage = async () => {
  const { benchAnswers } = await import('/test/answers.mjs');
  await window.associated.STUDENTT(1);
  const text = benchAnswers(window.associated);
  const modules = performance.getEntriesByType('resource').map((e) => e.name).filter((n) => n.endsWith('.wasm'));
  return { text, modules: modules.map((n) => n.slice(n.lastIndexOf('/') + 1)) };
};

const plotInPage = (kind, sheet, selection) => new Promise((resolve) => {
  window.testSheet = sheet;
  window.testSelection = selection;
  const svg = document.getElementById('plot');
  document.getElementById('plot-function').value = kind;
  document.getElementById('plot-button').click();
  const labels = (name, at) => [...svg.querySelectorAll(name)].map((t) => ({ value: Number(t.textContent), at: t.getAttribute(at) }));
  const read = () => ({
    message: document.getElementById('plot-message').textContent,
    curve: [...svg.querySelectorAll('polyline')].flatMap((l) => l.getAttribute('points').split(' ')),
    points: [...svg.querySelectorAll('circle')].map((c) => `${c.getAttribute('cx')},${c.getAttribute('cy')}`),
    xLabels: labels('.x-label', 'x'),
    yLabels: labels('.y-label', 'y'),
    elements: svg.childElementCount,
  });
  const poll = () => (svg.getAttribute('aria-busy') === 'true' ? setTimeout(poll, 20) : resolve(read()));
  poll();
});

for (const name of EngineNames) {
  describe(name, () => {
    let served;
    let engine;
    const problems = [];
    // What a page kept is read before the next load replaces it.
    const load = async (query = '') => {
      if (served.loaded) problems.push(...(await engine.run(() => window.problems)));
      await engine.load(`${served.origin}/index.html${query}`);
      await engine.run(referenceShown);
      served.loaded = true;
    };

    before(async () => {
      served = await serveDist({ officeStub: true });
      engine = await openEngine(name);
      await load();
    });

    after(async () => {
      await engine?.close();
      served?.server.close();
    });

    test('inside the page the SIMD module gives bench/answers.txt bit for bit', async () => {
      const { text, modules } = await engine.run(answersInPage);
      assert.deepEqual(modules, ['quorin-simd.wasm']);
      assert.equal(text, Recorded);
    });

    test('the reference lists every function of functions.json with its arguments, each where its help address points', async () => {
      const metadata = JSON.parse(readFileSync(`${Dist}functions.json`, 'utf8'));
      const headings = await engine.run(() => [...document.querySelectorAll('#reference h3')].map((n) => [n.textContent, `#${n.id}`]));
      assert.deepEqual(headings, metadata.functions.map((f) => [`${f.name}(${f.parameters.map((p) => p.name).join(', ')})`,
        new URL(f.helpUrl).hash]));
    });

    test('each curve is drawn from the functions\' answers, the interpolants through the selected points', async () => {
      for (const kind of ['Spline', 'Interp1', 'Lagrange', 'LLSQ']) {
        const drawn = await engine.run(plotInPage, kind, FivePoints, WholeColumns);
        assert.equal(drawn.message, '', kind);
        assert.equal(drawn.points.length, 5, kind);
        assert.equal(drawn.curve.length, 201, kind);
        // Sample 100 of 201 over x = 0 .. 4 is x = 2, the third selected point: an interpolant's answer
        // there is that point's y, so it is drawn on the point; the fit's is not.
        if (kind === 'LLSQ') assert.notEqual(drawn.curve[100], drawn.points[2]);
        else assert.equal(drawn.curve[100], drawn.points[2], kind);
      }
    });

    test('a tick label stands where its value is drawn: on the selected points of that x or y', async () => {
      const drawn = await engine.run(plotInPage, 'Interp1', FivePoints, WholeColumns);
      const [xs, ys] = [0, 1].map((c) => drawn.points.map((p) => p.split(',')[c]));
      const onPoints = (labels, coordinate, at) => labels.filter(({ value }) => FivePoints.some((p) => p[coordinate] === value))
        .map(({ value, at: where }) => assert.equal(where, at[FivePoints.findIndex((p) => p[coordinate] === value)], `label ${value}`));
      assert.ok(onPoints(drawn.xLabels, 0, xs).length >= 2 && onPoints(drawn.yLabels, 1, ys).length >= 2);
    });

    // Twice 10^5: V8 cannot spread that many arguments into Math.min.
    test('2 * 10^5 points selected as whole columns plot from the used range alone', async () => {
      const sheet = Array.from({ length: 200000 }, (_, k) => [k / 8, Math.round(1000 * Math.sin(k / 4000)) / 1000]);
      const drawn = await engine.run(plotInPage, 'Spline', sheet, WholeColumns);
      assert.equal(drawn.message, '');
      assert.equal(drawn.curve.length, 201);
      const values = drawn.xLabels.map((l) => l.value);
      assert.ok(values.length >= 2 && values[0] >= 0 && values.at(-1) <= sheet.at(-1)[0], `x labels ${values}`);
    });

    test('a selection the function refuses, or one outside the used range, says why and draws nothing', async () => {
      const cases = [
        { why: 'the rule of the function', sheet: [[0, 0], [1, 1], [2, 'x'], [3, 1]], selection: WholeColumns, message: /^Spline: a range holds text/ },
        { why: 'nothing selected holds a value', sheet: FivePoints, selection: { top: 10, left: 0, rows: 5, columns: 2 }, message: /^Select at least two rows/ },
      ];
      for (const c of cases) {
        const drawn = await engine.run(plotInPage, 'Spline', c.sheet, c.selection);
        assert.match(drawn.message, c.message, c.why);
        assert.equal(drawn.elements, 0, c.why);
      }
    });

    test('where the engine refuses SIMD the baseline module loads and gives bench/answers.txt bit for bit', async () => {
      await load('?simd=refused');
      const { text, modules } = await engine.run(answersInPage);
      assert.deepEqual(modules, ['quorin.wasm']);
      assert.equal(text, Recorded);
    });

    test('no error reached the console, the policy held and nothing left the origin', async () => {
      problems.push(...(await engine.run(() => window.problems)), ...engine.seen());
      assert.deepEqual(problems, []);
    });
  });
}
