// support.mjs - where the build and the native program are, and running jobs in fresh loads.
import { spawnSync } from 'node:child_process';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { Worker } from 'node:worker_threads';

export const Root = fileURLToPath(new URL('../../', import.meta.url));
// The deployable folder under test, and the native quorin-host whose module is the one oracle.
export const Dist = process.env.QUORIN_WEB_DIST ?? `${Root}build/web/dist/`;
export const NativeHost = process.env.QUORIN_HOST ?? `${Root}build/linux-debug/bin/quorin-host`;

// Debian's Chromium, headless (puppeteer adds the flag), with nothing of its own reaching the network.
export const ChromiumFlags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export function inFreshLoad(job, data = {}) {
  return new Promise((resolve, reject) => {
    const worker = new Worker(new URL('./worker.mjs', import.meta.url), {
      workerData: { dist: pathToFileURL(Dist).href, ...data, job },
    });
    worker.once('message', resolve);
    worker.once('error', reject);
  });
}

// quorin-host's output; it exits 1 when a formula was refused (#VALUE!), which is an answer here.
export function native(...args) {
  const run = spawnSync(NativeHost, args, { encoding: 'utf8', maxBuffer: 1 << 28 });
  if (run.status !== 0 && run.status !== 1) throw new Error(`${NativeHost} ${args[0]}: ${run.stderr || run.error}`);
  return run.stdout;
}

// quorin-host's text of a cell against an answer: numbers read back to the same double (its
// General format keeps every digit a double needs, and shows either zero as 0), errors by name.
export function sameAsNative(text, answer) {
  if (typeof answer !== 'number') return text === answer;
  if (!Number.isFinite(answer)) return text === '#NUM!';
  return /^-?[\d.]+(E[-+]\d+)?$/.test(text) && Number(text) === answer;
}
