// functions.js - the custom functions: every function of the catalogue associated under its id,
// converting Excel's values through the module and its answers into Excel's.
import { Catalogue } from './catalogue.js';
import { functionId, loadQuorin, Refusal, RowAnswers } from './quorin.js';

let quorin = null;
const ready = loadQuorin().then((loaded) => {
  quorin = loaded;
  return loaded;
});

// The add-in's one failure becomes #N/A, which is also what a saved workbook holds for it; a number
// that is not finite has no cell form and is #NUM!, as the add-in's host shows it.
function answer(entry, values) {
  const { Error: CellError, ErrorCode } = globalThis.CustomFunctions;
  let result;
  try {
    result = quorin.call(entry, values);
  } catch (refusal) {
    if (refusal === Refusal.value || refusal === Refusal.number) return new CellError(ErrorCode[refusal]);
    throw refusal;
  }
  if (result.status !== 0) return new CellError(ErrorCode.notAvailable, `${entry.name}: ${result.rule}`);
  const cells = result.values.map((v) => (Number.isFinite(v) ? v : new CellError(ErrorCode.invalidNumber)));
  return RowAnswers.has(entry.name) ? [cells] : cells[0];
}

// Excel may append an invocation object to the arguments; only the declared ones are read. Once the
// module is loaded a call answers at once, without a promise.
export function customFunction(entry) {
  return (...values) => (quorin !== null ? answer(entry, values) : ready.then(() => answer(entry, values)));
}

if (globalThis.CustomFunctions) {
  for (const entry of Catalogue) CustomFunctions.associate(functionId(entry.name), customFunction(entry));
}
