// office-stub.js - stands in for Office's library in the browser test: Office.onReady, a workbook
// whose selection is window.testSelection, and the CustomFunctions global of the contract, recording
// each association in window.associated.
(function () {
  'use strict';
  class CellError extends Error {
    constructor(code, message) {
      super(message);
      this.code = code;
    }
  }
  window.associated = {};
  window.testSelection = [[0, 0], [1, 1], [2, 0], [3, 1], [4, 0]];
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
  window.Excel = {
    run(batch) {
      const range = { values: null, load() { this.values = window.testSelection; } };
      const context = { workbook: { getSelectedRange: () => range }, sync: () => Promise.resolve() };
      return batch(context);
    },
  };
})();
