// worker.mjs - a fresh load of build/web/dist/functions.js in a thread of its own, so that each job
// starts with the module's first random state, as a fresh quorin-host process does.
import { parentPort, workerData } from 'node:worker_threads';

import { installCustomFunctions, shown } from './stub.mjs';

const functions = installCustomFunctions();
const dist = new URL(workerData.dist);
const { Catalogue } = await import(new URL('catalogue.js', dist));
// The module named by the job, else the one quorin.js picks; loaded before functions.js asks for it,
// unless the job is about loading.
const { loadQuorin } = await import(new URL('quorin.js', dist));
if (workerData.job !== 'reload') await loadQuorin(workerData.module ? new URL(workerData.module, dist) : undefined);
await import(new URL('functions.js', dist));

// Awaits the first call's promise: calls before the module is loaded resolve later.
const settle = (answer) => Promise.resolve(answer).then((a) => (Array.isArray(a) ? a.map((row) => row.map(shown)) : shown(a)));

// The calls quorin-host printed (sheet --calls), made with the same values: alone, each answered
// before the next is made, or batched, every call made in one tick with its ranges' addresses, as
// Excel makes the calls of one recalculation. An error value becomes the platform's error object.
function replay(calls, batched) {
  // The stub's error codes are the errors' texts.
  const value = (v) => {
    if (Array.isArray(v)) return v.map(value);
    if (v?.error !== undefined) return new CustomFunctions.Error(v.error);
    return v?.missing ? undefined : v;
  };
  return calls.map((call) => {
    const entry = Catalogue.find((e) => e.name.toUpperCase() === call.function.toUpperCase());
    const args = call.arguments.map(value);
    if (batched) args[entry.arguments.length] = { parameterAddresses: call.addresses, isInValuePreview: false };
    return functions[entry.name.toUpperCase()](...args);
  });
}

const jobs = {
  async replay({ calls, batched }) {
    return Promise.all(replay(calls, batched).map(settle));
  },
  async calls({ calls }) {
    const answers = [];
    for (const [id, args] of calls) answers.push(await settle(functions[id](...args)));
    return answers;
  },
  // Each batch's calls [id, args, addresses] made in one tick, the next batch once it is answered;
  // and every call again alone: { batched, alone }.
  async batches({ batches }) {
    const batched = [];
    for (const batch of batches) {
      const made = batch.map(([id, args, addresses]) => functions[id](...args, { parameterAddresses: addresses }));
      batched.push(await Promise.all(made.map(settle)));
    }
    const alone = [];
    for (const batch of batches) alone.push(await Promise.all(batch.map(([id, args]) => settle(functions[id](...args)))));
    return { batched, alone };
  },
  // A call while dist has no module, then one after the modules have been put there.
  async reload({ modules }) {
    const { copyFileSync } = await import('node:fs');
    const call = () => settle(functions.SPLINE([[0], [1], [2], [3]], [[0], [1], [8], [27]], 1.5));
    const failed = await call();
    const message = (await functions.STUDENTT(3)).message;
    for (const file of ['quorin.wasm', 'quorin-simd.wasm']) copyFileSync(new URL(file, modules), new URL(file, dist));
    return { failed, message, recovered: await call() };
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
