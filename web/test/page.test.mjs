// page.test.mjs - dist/ in Debian's Chromium, headless, served over HTTPS with the page's
// Content-Security-Policy: Office's library is replaced by office-stub.js; the custom functions give
// bench/answers.txt bit for bit inside the page, the reference lists the catalogue, the plot is drawn
// with the module's answers, and nothing is written to the console as an error.
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import puppeteer from 'puppeteer-core';

import { ChromiumFlags, Dist, Root } from './support.mjs';
import { serveDist } from './server.mjs';

const OfficeLibrary = 'https://appsforoffice.microsoft.com/lib/1/hosted/office.js';

let served;
let browser;
let page;
const problems = [];
const profile = mkdtempSync(join(tmpdir(), 'quorin-chromium-'));

before(async () => {
  served = await serveDist();
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ChromiumFlags,
    userDataDir: profile,
    acceptInsecureCerts: true,
  });
  page = await browser.newPage();
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(message.text());
  });
  page.on('pageerror', (error) => problems.push(error.message));
  await page.setRequestInterception(true);
  const stub = readFileSync(new URL('./office-stub.js', import.meta.url), 'utf8');
  page.on('request', (request) => {
    if (request.url() === OfficeLibrary) {
      request.respond({ status: 200, contentType: 'text/javascript', body: stub });
    } else if (request.url().startsWith(served.origin)) {
      request.continue();
    } else {
      // Nothing else may be fetched: the add-in is served whole from its own origin.
      problems.push(`request outside the origin: ${request.url()}`);
      request.abort();
    }
  });
  await page.goto(`${served.origin}/index.html`, { waitUntil: 'load' });
  await page.waitForFunction(() => document.querySelectorAll('#reference h3').length > 0);
});

after(async () => {
  await browser?.close();
  served?.server.close();
  rmSync(profile, { recursive: true, force: true });
});

test('inside the page the custom functions give bench/answers.txt bit for bit', async () => {
  const answers = await page.evaluate(async () => {
    const { benchAnswers } = await import('/test/answers.mjs');
    return benchAnswers(window.associated);
  });
  const recorded = readFileSync(`${Root}bench/answers.txt`, 'utf8');
  assert.equal(answers, recorded);
});

test('the reference lists every function of functions.json with its arguments', async () => {
  const metadata = JSON.parse(readFileSync(`${Dist}functions.json`, 'utf8'));
  const headings = await page.$$eval('#reference h3', (nodes) => nodes.map((n) => n.textContent));
  assert.deepEqual(headings, metadata.functions.map((f) => `${f.name}(${f.parameters.map((p) => p.name).join(', ')})`));
});

test('each curve is drawn from the functions\' answers, the interpolants through the selected points', async () => {
  for (const kind of ['Spline', 'Interp1', 'Lagrange', 'LLSQ']) {
    await page.select('#plot-function', kind);
    await page.click('#plot-button');
    await page.waitForFunction(() => document.querySelectorAll('#plot circle').length === 5);
    const drawn = await page.evaluate(() => {
      const points = [...document.querySelectorAll('#plot polyline')].flatMap((l) => l.getAttribute('points').split(' '));
      const node = document.querySelectorAll('#plot circle')[2];
      return { count: points.length, middle: points[100], node: `${node.getAttribute('cx')},${node.getAttribute('cy')}` };
    });
    assert.equal(drawn.count, 201, kind);
    // Sample 100 of 201 over x = 0 .. 4 is x = 2, the third selected point: an interpolant's answer
    // there is that point's y, so it is drawn on the point; the fit's is not.
    if (kind === 'LLSQ') assert.notEqual(drawn.middle, drawn.node);
    else assert.equal(drawn.middle, drawn.node, kind);
  }
  assert.equal(await page.$eval('#plot-message', (n) => n.textContent), '');
});

test('a selection the function refuses shows its rule, and draws nothing', async () => {
  await page.evaluate(() => { window.testSelection = [[0, 0], [1, 1], [2, 'x'], [3, 1]]; });
  await page.select('#plot-function', 'Spline');
  await page.click('#plot-button');
  await page.waitForFunction(() => document.getElementById('plot-message').textContent !== '');
  assert.match(await page.$eval('#plot-message', (n) => n.textContent), /^Spline: a range holds text/);
  assert.equal(await page.$$eval('#plot *', (nodes) => nodes.length), 0);
});

test('no error reached the console, the policy held and nothing left the origin', () => {
  assert.deepEqual(problems, []);
});
