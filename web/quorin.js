// quorin.js - the WebAssembly module, loaded once from beside this script, its catalogue, and each
// worksheet function's values converted in and its answer converted out. No Office API is used
// here, so the page, the custom functions and the tests in Node share it.

// The smallest module with a SIMD instruction (i8x16.splat): it validates only where the engine has
// WebAssembly SIMD, and then the module built with it is loaded; the baseline one elsewhere.
const SimdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 8, 1, 6, 0,
  65, 0, 253, 15, 11]);
export const ModuleUrl = new URL(WebAssembly.validate(SimdProbe) ? './quorin-simd.wasm' : './quorin.wasm',
  import.meta.url);

// Excel's values become doubles as the add-in's host converts them; what it refuses is named by the
// error the host shows for it.
export const Refusal = Object.freeze({ value: 'invalidValue', number: 'invalidNumber' });

// What the custom functions declare beyond the catalogue: the random numbers are recalculated with
// every recalculation (the add-in registers them without the volatile mark), and the fits answer a
// row of terms values, which spills.
export const Volatile = new Set(['RandNorm', 'RandDist']);
export const RowAnswers = new Set(['LLSQ', 'LLSQLC']);

// A function's custom-function id: its registered name in the upper case the Office tooling gives
// every id, for functions.json and for the association alike.
export function functionId(name) {
  return name.toUpperCase();
}

async function instantiate(url) {
  if (url.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return (await WebAssembly.instantiate(await readFile(url), {})).instance;
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: HTTP ${response.status}`);
  // Streaming compiles while the bytes arrive, but only when the server names the type application/wasm.
  if (WebAssembly.instantiateStreaming && response.headers.get('Content-Type') === 'application/wasm') {
    return (await WebAssembly.instantiateStreaming(response, {})).instance;
  }
  return (await WebAssembly.instantiate(await response.arrayBuffer(), {})).instance;
}

let loading = null;

// The module, instantiated on first use from url (the first call's decides); every caller shares the
// one instance and so the one random generator, as the add-in's callers share the add-in's.
export function loadQuorin(url = ModuleUrl) {
  if (loading === null) {
    loading = instantiate(url).then((instance) => {
      instance.exports._initialize?.();
      return new Quorin(instance.exports);
    });
  }
  return loading;
}

const Utf8 = new TextEncoder();
const Utf8Decoder = new TextDecoder();

export class Quorin {
  constructor(exports) {
    this.exports = exports;
    this.answers = exports.answers();
    this.text = exports.text();
  }

  // Views are taken after every call that may grow the memory: growing detaches the old ones.
  doubles(address, count) {
    return new Float64Array(this.exports.memory.buffer, address, count);
  }

  string(address) {
    const bytes = new Uint8Array(this.exports.memory.buffer, address);
    return Utf8Decoder.decode(bytes.subarray(0, bytes.indexOf(0)));
  }

  // The catalogue as the add-in registers it: per function its name, help and arguments, each with
  // its type letter (R a range, B a number, J an integer), name and help.
  catalogue() {
    const view = new DataView(this.exports.memory.buffer);
    const functions = [];
    const record = (at) => ({
      type: String.fromCharCode(view.getUint8(at)),
      name: this.string(view.getUint32(at + 4, true)),
      help: this.string(view.getUint32(at + 8, true)),
    });
    for (let at = this.exports.catalogue(); view.getUint8(at) !== 0;) {
      const header = record(at);
      const args = [];
      for (at += 12; view.getUint8(at) !== 0; at += 12) args.push(record(at));
      functions.push({ name: header.name, help: header.help, arguments: args });
      at += 12;
    }
    return functions;
  }

  // A scalar argument as the host converts a cell for a number: a number as it is, TRUE/FALSE as 1/0,
  // an empty cell (null) as 0, text through the module's one number grammar, a one-cell range as its
  // value. Anything else, an argument left out among them, is refused.
  number(value) {
    if (typeof value === 'number') return value;
    if (typeof value === 'boolean') return value ? 1 : 0;
    if (value === null) return 0;
    if (typeof value === 'string') {
      const room = new Uint8Array(this.exports.memory.buffer, this.text, 256);
      const { read, written } = Utf8.encodeInto(value, room);
      if (read !== value.length || this.exports.readNumber(written) !== 0) throw Refusal.value;
      return this.doubles(this.answers, 1)[0];
    }
    if (Array.isArray(value) && value.length === 1 && Array.isArray(value[0]) && value[0].length === 1) {
      return this.number(value[0][0]);
    }
    throw Refusal.value;
  }

  // An integer argument: number, then truncated toward zero; outside 32 bits the host refuses it.
  integer(value) {
    const number = this.number(value);
    if (!(Math.abs(number) < 2147483648)) throw Refusal.number;
    return Math.trunc(number);
  }

  // A range argument into the module's staging slot index: its rows laid end to end. Only numbers
  // are values; whatever else an element holds is counted, and the rules decide what that means.
  stage(index, range) {
    const rows = Array.isArray(range) ? range.length : -1;
    const columns = rows > 0 && Array.isArray(range[0]) ? range[0].length : 0;
    let rectangular = rows >= 0;
    for (let r = 0; rectangular && r < rows; ++r) rectangular = Array.isArray(range[r]) && range[r].length === columns;
    if (!rectangular) {
      this.exports.stageRange(index, -1, 0);
      return;
    }
    // No room (too many values, no memory): the module answers the function's failure for it.
    const address = this.exports.stageRange(index, rows, columns);
    if (address === 0) return;
    const items = this.doubles(address, rows * columns);
    let others = 0;
    if (columns === 1) {
      // A column, the usual shape of a range argument: one element per row, no inner loop.
      for (let r = 0; r < rows; ++r) {
        const value = range[r][0];
        if (typeof value === 'number') {
          items[r] = value;
        } else {
          items[r] = 0;
          ++others;
        }
      }
    } else {
      let at = 0;
      for (let r = 0; r < rows; ++r) {
        const row = range[r];
        for (let c = 0; c < columns; ++c, ++at) {
          const value = row[c];
          if (typeof value === 'number') {
            items[at] = value;
          } else {
            items[at] = 0;
            ++others;
          }
        }
      }
    }
    const cornerOther = rows * columns > 0 && typeof range[0][0] !== 'number' ? 1 : 0;
    this.exports.rangeStaged(index, others, cornerOther);
  }

  // Calls the function described by entry (a catalogue entry) with Excel's values. Answers
  // { status: 0, values } with the answer's doubles, { status, rule } for the add-in's failure, or
  // throws a Refusal where the host refuses an argument before the add-in sees the call.
  call(entry, values) {
    const scalars = [];
    let ranges = 0;
    const { arguments: args } = entry;
    for (let a = 0; a < args.length; ++a) {
      const type = args[a].type;
      if (type === 'R') this.stage(ranges++, values[a]);
      else if (type === 'J') scalars.push(this.integer(values[a]));
      else scalars.push(this.number(values[a]));
    }
    const status = this.exports[entry.name](...scalars);
    if (status !== 0) return { status, rule: this.string(this.exports.statusText(status)) };
    // A fit's only scalar is its terms, the length of its row.
    const count = RowAnswers.has(entry.name) ? scalars[0] : 1;
    const answers = this.doubles(this.answers, count);
    return { status, values: count === 1 ? [answers[0]] : Array.from(answers) };
  }
}
