// office-stub.js - stands in for Office's library in the browser test: Office.onReady; a workbook whose
// used range holds the rows of window.testSheet from A1 and whose selection is window.testSelection
// (the whole columns A:B unless a test says otherwise); the CustomFunctions global of the contract,
// recording each association in window.associated. Errors, rejected promises, console errors and
// blocked requests of the page are kept in window.problems, which any engine's driver can read.
// With ?simd=refused in the page's address, WebAssembly.validate refuses SIMD as an engine without it.
(function () {
  'use strict';
  window.problems = [];
  const record = (text) => window.problems.push(String(text));
  window.addEventListener('error', (event) => record(event.message));
  window.addEventListener('unhandledrejection', (event) => record(event.reason?.message ?? event.reason));
  document.addEventListener('securitypolicyviolation', (event) => record(`blocked by the policy: ${event.blockedURI}`));
  const consoleError = console.error.bind(console);
  console.error = (...args) => {
    record(args.join(' '));
    consoleError(...args);
  };

  if (new URLSearchParams(location.search).get('simd') === 'refused') {
    const validate = WebAssembly.validate;
    // 0xfd prefixes every SIMD instruction; the only module validated is quorin.js's probe.
    WebAssembly.validate = (bytes) => !new Uint8Array(bytes).includes(0xfd) && validate(bytes);
  }

  class CellError extends Error {
    constructor(code, message) {
      super(message);
      this.code = code;
    }
  }
  window.associated = {};
  window.CustomFunctions = {
    associate(id, fn) { window.associated[id] = fn; },
    Error: CellError,
    ErrorCode: { invalidValue: '#VALUE!', notAvailable: '#N/A', invalidNumber: '#NUM!', divisionByZero: '#DIV/0!', nullReference: '#NULL!' },
  };
  window.Office = {
    onReady(callback) {
      const info = { host: 'Excel', platform: 'OfficeOnline' };
      if (callback) setTimeout(() => callback(info), 0);
      return Promise.resolve(info);
    },
  };

  const SheetRows = 1048576;
  // Excel on the web answers at most 5 MB to one request; a whole column of a million cells is past it.
  const PayloadLimit = 5 * 1024 * 1024;
  window.testSheet = [[0, 0], [1, 1], [2, 0], [3, 1], [4, 0]];
  window.testSelection = { top: 0, left: 0, rows: SheetRows, columns: 2 };

  // A range of the sheet, rows and columns from 0; its loads are carried out by the context's sync.
  function range(context, area) {
    const self = {
      isNullObject: area === null,
      worksheet: {
        getUsedRangeOrNullObject() {
          const rows = window.testSheet.length;
          return range(context, rows === 0 ? null : { top: 0, left: 0, rows, columns: window.testSheet[0].length });
        },
      },
      getIntersectionOrNullObject(other) {
        if (self.isNullObject || other.isNullObject) throw new Error('InvalidArgument: a null object');
        const top = Math.max(area.top, other.area.top);
        const left = Math.max(area.left, other.area.left);
        const bottom = Math.min(area.top + area.rows, other.area.top + other.area.rows);
        const right = Math.min(area.left + area.columns, other.area.left + other.area.columns);
        return range(context, bottom > top && right > left ? { top, left, rows: bottom - top, columns: right - left } : null);
      },
      // A null object's load is answered with no values: only isNullObject tells.
      load(properties) {
        if (properties.includes('values') && area !== null) context.loads.push(() => { self.values = valuesOf(area); });
      },
      area,
    };
    return self;
  }

  function valuesOf(area) {
    const values = Array.from({ length: area.rows }, (_, r) => Array.from({ length: area.columns },
      (__, c) => window.testSheet[area.top + r]?.[area.left + c] ?? ''));
    if (JSON.stringify(values).length > PayloadLimit) {
      throw Object.assign(new Error('The response payload size has exceeded the limit.'), { code: 'ResponsePayloadSizeLimitExceeded' });
    }
    return values;
  }

  window.Excel = {
    run(batch) {
      const context = { loads: [] };
      context.sync = async () => {
        for (const load of context.loads.splice(0)) load();
      };
      context.workbook = { getSelectedRange: () => range(context, window.testSelection) };
      return batch(context);
    },
  };
})();
