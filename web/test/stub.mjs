// stub.mjs - the CustomFunctions global as the contract in docs/WEB.md describes it, recording what
// functions.js associates; errors keep their code and message.
export const ErrorCode = Object.freeze({
  invalidValue: '#VALUE!',
  notAvailable: '#N/A',
  invalidNumber: '#NUM!',
  divisionByZero: '#DIV/0!',
  nullReference: '#NULL!',
  invalidName: '#NAME?',
  invalidReference: '#REF!',
});

export class CellError extends Error {
  constructor(code, message) {
    super(message);
    this.code = code;
  }
}

export function installCustomFunctions(target = globalThis) {
  const associated = {};
  target.CustomFunctions = {
    associate(id, fn) {
      if (id in associated) throw new Error(`${id} associated twice`);
      associated[id] = fn;
    },
    Error: CellError,
    ErrorCode,
  };
  return associated;
}

// An answer as quorin-host prints a cell: the add-in's failure as #ERR999, which #N/A stands for here.
export function shown(answer) {
  if (answer instanceof CellError) return answer.code === ErrorCode.notAvailable ? '#ERR999' : answer.code;
  return answer;
}
