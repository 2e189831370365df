// functions.js - the custom functions: every function of the catalogue associated under its id,
// converting Excel's values through the module and its answers into Excel's. Calls that read the
// same ranges in one recalculation are answered together.
import { Catalogue } from './catalogue.js';
import { functionId, loadQuorin, Refusal, RowAnswers, takesAddresses, Volatile } from './quorin.js';

let quorin = null;

function load() {
  return loadQuorin().then((loaded) => {
    quorin = loaded;
  });
}
// Started at once, so that the first call finds the module loading; a failure is answered by the calls.
load().catch(() => {});

function cellError(code, message) {
  const { Error: CellError, ErrorCode } = globalThis.CustomFunctions;
  return new CellError(ErrorCode[code], message);
}

// The add-in's one failure becomes #N/A, which is also what a saved workbook holds for it; a number
// that is not finite has no cell form and is #NUM!, as the add-in's host shows it.
function failure(entry, status) {
  return cellError('notAvailable', `${entry.name}: ${quorin.rule(status)}`);
}

function cell(value) {
  return Number.isFinite(value) ? value : cellError('invalidNumber');
}

// A function declared to take addresses declares a matrix result, which Excel wants as rows.
function single(entry, value) {
  return takesAddresses(entry) ? [[value]] : value;
}

function notLoaded(entry) {
  return cellError('notAvailable', `${entry.name}: the module could not be loaded`);
}

// One call on its own: its ranges staged, its export called.
function answerAlone(entry, values) {
  let status;
  try {
    status = quorin.call(entry, values);
  } catch (error) {
    if (error instanceof Refusal) return single(entry, cellError(error.code));
    throw error;
  }
  return answerStaged(entry, status);
}

// The answer of the export just called with this.scalars, as the cell shows it.
function answerStaged(entry, status) {
  if (status !== 0) return single(entry, failure(entry, status));
  if (!RowAnswers.has(entry.name)) return single(entry, cell(quorin.answer(0)));
  // A fit's only scalar is its terms, the length of its row.
  const row = [];
  for (let k = 0; k < quorin.scalars[0]; ++k) row.push(cell(quorin.answer(k)));
  return [row];
}

// Calls waiting for the end of the tick, by function and the addresses and shapes of their ranges:
// key -> { entry, calls: [{ values, resolve }] }.
let waiting = new Map();

// The key of a call's group, or null when the call must be answered alone: a range argument with no
// address (an array constant, another function's answer, a host that gives none: null, absent or
// empty) may hold anything.
function groupKey(entry, values) {
  const addresses = values[entry.arguments.length]?.parameterAddresses;
  if (!Array.isArray(addresses)) return null;
  let key = entry.name;
  for (let a = 0; a < entry.arguments.length; ++a) {
    if (entry.arguments[a].type !== 'R') continue;
    const range = values[a];
    const address = addresses[a];
    if (typeof address !== 'string' || address === '' || !Array.isArray(range) || !Array.isArray(range[0])) return null;
    // The shape too, so that a range read twice under one address is never taken for another.
    key += `\u0000${address}\u0000${range.length}x${range[0].length}`;
  }
  return key;
}

// The calls' scalars converted in turn: each accepted call is handed to answer, each refused one is
// answered with its refusal.
function forAccepted(entry, calls, answer) {
  for (const call of calls) {
    try {
      quorin.convertScalars(entry, call.values);
    } catch (error) {
      if (!(error instanceof Refusal)) throw error;
      call.resolve(single(entry, cellError(error.code)));
      continue;
    }
    answer(call);
  }
}

// The calls of one group over the ranges of its first call, staged once. A function with a
// many-point export answers the points of every accepted call at once, one flag (extrapolate) at a
// time; its scalars are its point (x, or X and Y), then the flag if it has one.
function answerGroup({ entry, calls }) {
  quorin.stageRanges(entry, calls[0].values);
  if (!quorin.hasPoints(entry)) {
    forAccepted(entry, calls, (call) => call.resolve(answerStaged(entry, quorin.callStaged(entry))));
    return;
  }
  const coordinates = entry.arguments.filter((a) => a.type === 'B').length;
  const flagged = entry.arguments.some((a) => a.type === 'J');
  const byFlag = new Map();
  forAccepted(entry, calls, (call) => {
    const { scalars } = quorin;
    const flag = flagged ? scalars[coordinates] : 0;
    if (!byFlag.has(flag)) byFlag.set(flag, []);
    byFlag.get(flag).push({ call, x: scalars[0], y: coordinates === 2 ? scalars[1] : 0 });
  });
  for (const [flag, points] of byFlag) {
    const count = points.length;
    const at = quorin.stagePoints(count);
    if (at < 0) {
      for (const { call } of points) call.resolve(answerAlone(entry, call.values));
      continue;
    }
    let heap = quorin.doubles();
    for (let k = 0; k < count; ++k) {
      heap[at + k] = points[k].x;
      heap[at + count + k] = points[k].y;
    }
    const status = quorin.callPoints(entry, flag);
    heap = quorin.doubles();
    for (let k = 0; k < count; ++k) {
      points[k].call.resolve(single(entry, status !== 0 ? failure(entry, status) : cell(heap[at + 2 * count + k])));
    }
  }
}

function answerWaiting() {
  const groups = waiting;
  waiting = new Map();
  const answerAll = () => {
    for (const group of groups.values()) {
      try {
        answerGroup(group);
      } catch (error) {
        // Never left pending: a call whose answer went wrong shows what went wrong.
        for (const { resolve } of group.calls) resolve(single(group.entry, cellError('notAvailable', `${group.entry.name}: ${error.message}`)));
      }
    }
  };
  if (quorin !== null) {
    answerAll();
    return;
  }
  load().then(answerAll, () => {
    for (const { entry, calls } of groups.values()) for (const { resolve } of calls) resolve(single(entry, notLoaded(entry)));
  });
}

function enqueue(entry, key, values) {
  if (waiting.size === 0) queueMicrotask(answerWaiting);
  let group = waiting.get(key);
  if (group === undefined) {
    group = { entry, calls: [] };
    waiting.set(key, group);
  }
  return new Promise((resolve) => group.calls.push({ values, resolve }));
}

// Excel appends an invocation object to the declared arguments. A call that gives the addresses of
// its ranges waits for the others of its recalculation; any other is answered at once once the module
// is loaded, without a promise. A random number is not drawn for a formula's value preview, so that
// the cells draw the sequence the add-in draws.
export function customFunction(entry) {
  const volatile = Volatile.has(entry.name);
  return (...values) => {
    if (volatile && values[entry.arguments.length]?.isInValuePreview === true) {
      return cellError('notAvailable', `${entry.name}: drawn when the formula is entered`);
    }
    const key = takesAddresses(entry) ? groupKey(entry, values) : null;
    if (key !== null) return enqueue(entry, key, values);
    if (quorin !== null) return answerAlone(entry, values);
    return load().then(() => answerAlone(entry, values), () => single(entry, notLoaded(entry)));
  };
}

if (globalThis.CustomFunctions) {
  for (const entry of Catalogue) CustomFunctions.associate(functionId(entry.name), customFunction(entry));
}
