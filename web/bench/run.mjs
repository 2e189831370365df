// run.mjs - the benchmark (not a test): per call through the custom functions in Node and in headless
// Chromium, beside the native entry points (bench/quorin_bench from the linux-bench preset) and the
// JavaScript peers, at 1,000 and 10^6 values; and CountBetween from 10^3 to 10^6 values, to show the
// conversion of a range growing in proportion to its size. Prints a Markdown table. With --columns,
// the filled-down columns instead: 1,000 cells over one table, answered alone and in one batch,
// beside the native entry point called 1,000 times.
// Usage: node web/bench/run.mjs [--columns]   (after cmake --build --preset web and --preset linux-bench)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { installCustomFunctions } from '../test/stub.mjs';
import { ChromiumFlags, Dist, Root } from '../test/support.mjs';
import { serveDist } from '../test/server.mjs';

import { argumentCosts, runBenchmark, runColumns } from './cases.mjs';

const require = createRequire(import.meta.url);
const Sizes = [1000, 1000000];
const Scaling = [1000, 10000, 100000, 1000000];

const Columns = process.argv.includes('--columns');

async function nodeFunctions() {
  const f = installCustomFunctions();
  await import(`${Dist}functions.js`);
  const { loadQuorin } = await import(`${Dist}quorin.js`);
  await loadQuorin();
  return f;
}

async function inNode() {
  const f = await nodeFunctions();
  const peers = {
    Spline: require('cubic-spline'),
    PolynomialRegression: (await import('ml-regression-polynomial')).PolynomialRegression,
    jStat: require('jstat').jStat,
  };
  const rows = runBenchmark(f, Sizes, peers, 0.1, (row) => console.error(`node: ${JSON.stringify(row)}`));
  const { benchmarkCases, timePerCall } = await import('./cases.mjs');
  const scaling = Scaling.map((n) => {
    const count = benchmarkCases(f, n)[1]();
    return { n, seconds: timePerCall(count.ours) };
  });
  return { rows, scaling };
}

// The page's custom functions given to job, a function of them and data run inside the page.
async function inChromium(job, data) {
  const { default: puppeteer } = await import('puppeteer-core');
  const served = await serveDist();
  const profile = mkdtempSync(join(tmpdir(), 'quorin-bench-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', headless: true, userDataDir: profile,
    acceptInsecureCerts: true, args: ChromiumFlags,
  });
  try {
    const page = await browser.newPage();
    const stub = require('node:fs').readFileSync(new URL('../test/office-stub.js', import.meta.url), 'utf8');
    await page.setRequestInterception(true);
    page.on('request', (r) => (r.url().includes('appsforoffice')
      ? r.respond({ status: 200, contentType: 'text/javascript', body: stub }) : r.continue()));
    await page.goto(`${served.origin}/index.html`, { waitUntil: 'load' });
    await page.waitForFunction(() => document.querySelectorAll('#reference h3').length > 0);
    return await page.evaluate(`(${job})(window.associated, ${JSON.stringify(data)})`);
  } finally {
    await browser.close();
    served.server.close();
    rmSync(profile, { recursive: true, force: true });
  }
}

function native(filter) {
  const summary = execFileSync(`${Root}build/linux-bench/bin/quorin_bench`, [`--benchmark_filter=${filter}`],
    { encoding: 'utf8', maxBuffer: 1 << 26 });
  const seconds = {};
  for (const line of summary.split('\n')) {
    // The console reporter leaves a colour reset before the first summary line, whatever it is asked.
    const m = /^(\S+)\/quorin (\d+) (\S+) /.exec(line.replace(/\x1b\[[0-9;]*m/g, ''));
    if (m) seconds[`${m[1]} ${m[2]}`] = Number(m[3]);
  }
  return seconds;
}

const time = (s) => (s >= 1e-3 ? `${(s * 1e3).toFixed(2)} ms` : s >= 1e-6 ? `${(s * 1e6).toFixed(2)} µs` : `${(s * 1e9).toFixed(0)} ns`);

if (Columns) {
  const f = await nodeFunctions();
  const node = await runColumns(f, 100000, 1000, (row) => console.error(`node: ${JSON.stringify(row)}`));
  const nodeCosts = argumentCosts(f);
  const chromium = await inChromium(async (g) => (await import('/bench/cases.mjs')).runColumns(g), null);
  const chromiumCosts = await inChromium(async (g) => (await import('/bench/cases.mjs')).argumentCosts(g), null);
  const nativeSeconds = native('^(Interp1|Spline|Polynomial)/quorin/100000/|^Lagrange/quorin/20/');
  console.log('| 1,000 cells of | table | native entry point, 1,000 calls | alone, Node | one batch, Node | alone, Chromium | one batch, Chromium | batch / native (Node, Chromium) |');
  console.log('|---|---|---|---|---|---|---|---|');
  node.forEach((row, k) => {
    const nat = nativeSeconds[`${row.name} ${row.n}`] * row.cells;
    const ratios = `${(row.batch / nat).toFixed(3)}x, ${(chromium[k].batch / nat).toFixed(3)}x`;
    console.log(`| ${row.name} | ${row.n} | ${time(nat)} | ${time(row.alone)} | ${time(row.batch)} | ${time(chromium[k].alone)} | ${time(chromium[k].batch)} | ${ratios} |`);
  });
  console.log('\nPer value at 10^5 values (Node, Chromium):');
  for (const key of Object.keys(nodeCosts)) console.log(`- ${key}: ${time(nodeCosts[key])}, ${time(chromiumCosts[key])}`);
} else {
  const node = await inNode();
  const chromium = await inChromium(async (f, sizes) => (await import('/bench/cases.mjs')).runBenchmark(f, sizes), Sizes);
  const nativeSeconds = native('^(StudentT|Interp1|CountBetween|Spline|Polynomial|LLSQ\\.m4|LLSQ\\.m20)/quorin/(1|1000|1000000)/');
  console.log('| function | n | native entry point | custom function, Node | custom function, Chromium | Node / native | fastest JavaScript peer (Node) | peer / custom function (Node) |');
  console.log('|---|---|---|---|---|---|---|---|');
  node.rows.forEach((row, k) => {
    const nat = nativeSeconds[`${row.name} ${row.n}`];
    const peer = row.peer ? `${row.peer}: ${time(row.peerSeconds)}` : '';
    const ratio = row.peer ? `${(row.peerSeconds / row.ours).toFixed(2)}x` : '';
    console.log(`| ${row.name} | ${row.n} | ${nat ? time(nat) : ''} | ${time(row.ours)} | ${time(chromium[k].ours)} | ${nat ? `${(row.ours / nat).toFixed(2)}x` : ''} | ${peer} | ${ratio} |`);
  });
  console.log('\nCountBetween through the custom function, per value:');
  for (const { n, seconds } of node.scaling) console.log(`- ${n} values: ${time(seconds)}, ${((seconds / n) * 1e9).toFixed(2)} ns per value`);
}
