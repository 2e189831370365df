// engines.mjs - a page in each browser engine CI runs, behind one small interface: Debian's Chromium,
// headless, driven by puppeteer-core; WebKitGTK's MiniBrowser on a display of its own (Xvfb), driven
// over WebDriver by WebKitWebDriver through selenium-webdriver. Every start has a time limit, and every
// process started here ends with close(), with a failed start, or at the latest with this process.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import puppeteer from 'puppeteer-core';
import { Builder } from 'selenium-webdriver';

import { ChromiumFlags } from './support.mjs';

export const EngineNames = (process.env.QUORIN_ENGINES ?? 'chromium webkit').split(/\s+/).filter(Boolean);

const MiniBrowser = process.env.MINIBROWSER ?? '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const StartSeconds = 30;
const ScriptSeconds = 300;

// Each started process leads a process group of its own, so that its children (MiniBrowser and its
// web processes under WebKitWebDriver) end with it.
const started = new Set();
function stop(child) {
  if (!started.delete(child) || child.exitCode !== null || child.signalCode !== null) return;
  try {
    process.kill(-child.pid, 'SIGKILL');
  } catch {
    // Already gone.
  }
}
process.on('exit', () => [...started].forEach(stop));
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => {
    [...started].forEach(stop);
    process.exit(128 + (signal === 'SIGINT' ? 2 : 15));
  });
}

function launch(command, args, options) {
  const child = spawn(command, args, { ...options, detached: true });
  started.add(child);
  child.once('exit', () => started.delete(child));
  return child;
}

function withinSeconds(seconds, what, promise) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} did not answer within ${seconds} s`)), seconds * 1000);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// The display number Xvfb picks itself (-displayfd), so that runs side by side never collide.
async function startXvfb() {
  const xvfb = launch('Xvfb', ['-displayfd', '3', '-nolisten', 'tcp', '-screen', '0', '1280x1024x24'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  let said = '';
  const display = new Promise((resolve, reject) => {
    xvfb.stdio[3].on('data', (chunk) => {
      said += chunk;
      if (said.includes('\n')) resolve(`:${said.trim()}`);
    });
    xvfb.once('error', reject);
    xvfb.once('exit', (code) => reject(new Error(`Xvfb exited with ${code}`)));
  });
  return { xvfb, display: await withinSeconds(StartSeconds, 'Xvfb', display) };
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = createServer().listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
    probe.once('error', reject);
  });
}

async function driverReady(url, driver) {
  for (;;) {
    if (driver.exitCode !== null) throw new Error(`WebKitWebDriver exited with ${driver.exitCode}`);
    try {
      if ((await (await fetch(`${url}/status`)).json()).value?.ready) return;
    } catch {
      // Not listening yet.
    }
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

// fn's source, run in the page with args (the driver's script is not held to the page's policy, an
// eval inside it would be): what it resolves to comes back as JSON, what it throws is thrown here.
const asyncScript = (fn) => `const done = arguments[arguments.length - 1];
const args = Array.prototype.slice.call(arguments, 0, -1);
Promise.resolve().then(() => (${fn})(...args))
  .then((value) => done({ value }), (error) => done({ error: String(error && error.stack || error) }));`;

async function openWebKit() {
  const { xvfb, display } = await startXvfb();
  let webDriver;
  let session;
  try {
    const port = await freePort();
    webDriver = launch('WebKitWebDriver', [`--port=${port}`], { stdio: ['ignore', 'ignore', 'inherit'], env: { ...process.env, DISPLAY: display } });
    const url = `http://127.0.0.1:${port}`;
    await withinSeconds(StartSeconds, 'WebKitWebDriver', driverReady(url, webDriver));
    session = await withinSeconds(StartSeconds, 'MiniBrowser', new Builder().usingServer(url).withCapabilities({
      browserName: 'MiniBrowser',
      acceptInsecureCerts: true,
      'webkitgtk:browserOptions': { binary: MiniBrowser, args: ['--automation'] },
    }).build());
    await session.manage().setTimeouts({ script: ScriptSeconds * 1000, pageLoad: StartSeconds * 1000 });
  } catch (error) {
    stop(webDriver);
    stop(xvfb);
    throw error;
  }
  return {
    load: (url) => session.get(url),
    async run(fn, ...args) {
      const { value, error } = await session.executeAsyncScript(asyncScript(fn), ...args);
      if (error) throw new Error(error);
      return value;
    },
    seen: () => [],
    async close() {
      await withinSeconds(StartSeconds, 'closing MiniBrowser', session.quit()).catch(() => {});
      stop(webDriver);
      stop(xvfb);
    },
  };
}

async function openChromium() {
  const profile = mkdtempSync(join(tmpdir(), 'quorin-chromium-'));
  const seen = [];
  let browser;
  try {
    // puppeteer ends the browser itself when the launch times out, and when this process ends.
    browser = await puppeteer.launch({
      executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium', headless: true, args: ChromiumFlags,
      userDataDir: profile, acceptInsecureCerts: true, timeout: StartSeconds * 1000, protocolTimeout: ScriptSeconds * 1000,
    });
  } catch (error) {
    rmSync(profile, { recursive: true, force: true });
    throw error;
  }
  const page = await browser.newPage();
  // What only Chromium's driver sees: the console, and requests, which may not leave the origin of
  // the page loaded.
  page.on('console', (message) => {
    if (message.type() === 'error') seen.push(message.text());
  });
  page.on('pageerror', (error) => seen.push(error.message));
  let origin = null;
  await page.setRequestInterception(true);
  page.on('request', (request) => {
    if (new URL(request.url()).origin === origin) {
      request.continue();
    } else {
      seen.push(`request outside the origin: ${request.url()}`);
      request.abort();
    }
  });
  return {
    load(url) {
      origin = new URL(url).origin;
      return page.goto(url, { waitUntil: 'load' });
    },
    run: (fn, ...args) => page.evaluate(fn, ...args),
    seen: () => seen,
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Answers { load(url), run(fn, ...args), seen(), close() }: seen() lists what the driver alone saw go wrong.
export function openEngine(name) {
  return { chromium: openChromium, webkit: openWebKit }[name]();
}
