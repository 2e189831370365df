// sheet.mjs - a CSV sheet recalculated through the custom functions, as quorin-host recalculates it:
// cells in reading order, a formula's row answer spilled to its right. The formulas are the examples'
// kind: calls, numbers, text, TRUE/FALSE, array constants and references; nothing else is read.
import { parse } from 'csv-parse/sync';

import { functionId } from '../quorin.js';

const Token = /\s*(?:(\d+(?:\.\d*)?(?:[eE][-+]?\d+)?|\.\d+(?:[eE][-+]?\d+)?)|("(?:[^"]|"")*")|(\$?[A-Z]+\$?\d+(?::\$?[A-Z]+\$?\d+)?)(?![\w(])|([A-Za-z_][\w.]*)|(.))/y;

function tokens(text) {
  const list = [];
  Token.lastIndex = 0;
  for (let m; Token.lastIndex < text.length && (m = Token.exec(text));) {
    if (m[1]) list.push({ number: Number(m[1]) });
    else if (m[2]) list.push({ text: m[2].slice(1, -1).replaceAll('""', '"') });
    else if (m[3]) list.push({ reference: m[3].replaceAll('$', '') });
    else if (m[4]) list.push({ word: m[4] });
    else if (m[5] && m[5].trim()) list.push({ mark: m[5] });
  }
  return list;
}

function cellAddress(name) {
  const [, letters, digits] = /^([A-Z]+)(\d+)$/.exec(name);
  let column = 0;
  for (const letter of letters) column = column * 26 + (letter.charCodeAt(0) - 64);
  return { row: Number(digits) - 1, column: column - 1 };
}

// A parsed formula: { call, args } | { value } | { array } | { range: {top, left, bottom, right} }.
function parseFormula(text) {
  const list = tokens(text.slice(1));
  let at = 0;
  const is = (mark) => list[at]?.mark === mark;
  const expect = (mark) => {
    if (!is(mark)) throw new Error(`${text}: expected ${mark}`);
    ++at;
  };
  const scalar = () => {
    const sign = is('-') ? (++at, -1) : 1;
    const t = list[at++];
    if (t.number !== undefined) return sign * t.number;
    if (t.text !== undefined) return t.text;
    if (t.word === 'TRUE' || t.word === 'FALSE') return t.word === 'TRUE';
    throw new Error(`${text}: unexpected ${JSON.stringify(t)}`);
  };
  const expression = () => {
    const t = list[at];
    if (t.word && list[at + 1]?.mark === '(') {
      at += 2;
      const args = [];
      while (!is(')')) {
        args.push(is(',') ? null : expression());
        if (is(',')) {
          ++at;
          if (is(')')) args.push(null);
        }
      }
      expect(')');
      return { call: t.word, args };
    }
    if (t.reference) {
      ++at;
      const [first, last = first] = t.reference.split(':').map(cellAddress);
      return { range: { top: first.row, left: first.column, bottom: last.row, right: last.column } };
    }
    if (is('{')) {
      ++at;
      const rows = [[]];
      for (;;) {
        rows[rows.length - 1].push(scalar());
        if (is(',')) ++at;
        else if (is(';')) (++at, rows.push([]));
        else break;
      }
      expect('}');
      return { array: rows };
    }
    return { value: scalar() };
  };
  const formula = expression();
  if (at !== list.length) throw new Error(`${text}: unread ${JSON.stringify(list[at])}`);
  return formula;
}

// The sheet's cells: numbers, booleans and text as quorin-host reads a CSV field, null where empty.
// readNumber is the module's number grammar (spaces around allowed), answering undefined for text.
export function readSheet(csvText, readNumber) {
  const rows = parse(csvText, { bom: true, relax_column_count: true });
  return rows.map((row) => row.map((field) => {
    if (field === '') return null;
    if (field.startsWith('=')) return { formula: field };
    const number = readNumber(field.trim());
    if (number !== undefined && field.trim() !== '') return number;
    if (/^(true|false)$/i.test(field)) return field.toUpperCase() === 'TRUE';
    return field;
  }));
}

// Recalculates every formula cell with functions (id -> custom function), catalogue telling which
// arguments are ranges: in reading order, except that a formula whose cells (or whose spill) a range
// reads is computed first, as quorin-host orders them. A literal where a range belongs is passed as it
// is: the contract's door sees no rows (Excel itself would pass it as one cell). Answers
// [{ row, column, formula, answer }], one per formula.
export function recalculate(cells, functions, catalogue) {
  const answers = [];
  const compute = (r, c) => {
    const cell = cells[r][c];
    cells[r][c] = null;
    const answer = evaluate(parseFormula(cell.formula), false);
    answers.push({ row: r, column: c, formula: cell.formula, answer });
    // A row answer fills the cells to its right, which later formulas may read.
    const spilled = Array.isArray(answer) ? answer[0] : [answer];
    spilled.forEach((v, k) => {
      cells[r][c + k] = typeof v === 'number' ? v : { error: v };
    });
  };
  const pending = (r, c) => cells[r]?.[c]?.formula !== undefined;
  const value = (r, c) => {
    for (let k = 0; k <= c; ++k) if (pending(r, k)) compute(r, k);
    return cells[r]?.[c] ?? null;
  };
  const evaluate = (node, asRange) => {
    if (node === null) return null;
    if ('value' in node) return node.value;
    if (node.array) return asRange ? node.array : node.array[0][0];
    if (node.range) {
      const { top, left, bottom, right } = node.range;
      if (!asRange) return value(top, left);
      const rows = [];
      for (let r = top; r <= bottom; ++r) {
        const row = [];
        for (let c = left; c <= right; ++c) row.push(value(r, c));
        rows.push(row);
      }
      return rows;
    }
    const entry = catalogue.find((e) => e.name.toUpperCase() === node.call.toUpperCase());
    const args = node.args.map((arg, a) => evaluate(arg, entry.arguments[a]?.type === 'R'));
    return functions[functionId(entry.name)](...args);
  };
  cells.forEach((row, r) => row.forEach((_, c) => {
    if (pending(r, c)) compute(r, c);
  }));
  return answers;
}
