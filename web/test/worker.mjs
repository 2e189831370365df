// worker.mjs - a fresh load of build/web/dist/functions.js in a thread of its own, so that each job
// starts with the module's first random state, as a fresh quorin-host process does.
import { parentPort, workerData } from 'node:worker_threads';

import { installCustomFunctions, shown } from './stub.mjs';

const functions = installCustomFunctions();
const dist = new URL(workerData.dist);
const { Catalogue } = await import(new URL('catalogue.js', dist));
// The module named by the job, else the one quorin.js picks; loaded before functions.js asks for it.
const { loadQuorin } = await import(new URL('quorin.js', dist));
const quorin = await loadQuorin(workerData.module ? new URL(workerData.module, dist) : undefined);
await import(new URL('functions.js', dist));

// Awaits the first call's promise: calls before the module is loaded resolve later.
const settle = (answer) => Promise.resolve(answer).then((a) => (Array.isArray(a) ? a.map((row) => row.map(shown)) : shown(a)));

const jobs = {
  async sheet({ csv }) {
    const { readSheet, recalculate } = await import('./sheet.mjs');
    const readNumber = (text) => {
      try {
        return typeof text === 'string' && text !== '' ? quorin.number(text) : undefined;
      } catch {
        return undefined;
      }
    };
    const answers = recalculate(readSheet(csv, readNumber), functions, Catalogue);
    return Promise.all(answers.map(async (a) => ({ ...a, answer: await settle(a.answer) })));
  },
  async calls({ calls }) {
    const answers = [];
    for (const [id, args] of calls) answers.push(await settle(functions[id](...args)));
    return answers;
  },
  async answers() {
    const { benchAnswers } = await import('./answers.mjs');
    return benchAnswers(functions);
  },
  async associated() {
    return Object.keys(functions);
  },
};

parentPort.postMessage(await jobs[workerData.job](workerData));
