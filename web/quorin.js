// quorin.js - the WebAssembly module, loaded once from beside this script, its catalogue, and each
// worksheet function's values converted in and its answer converted out. No Office API is used
// here, so the page, the custom functions and the tests in Node share it.

// The smallest module with a SIMD instruction (i8x16.splat): it validates only where the engine has
// WebAssembly SIMD, and then the module built with it is loaded; the baseline one elsewhere.
const SimdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 8, 1, 6, 0,
  65, 0, 253, 15, 11]);
export const ModuleUrl = new URL(WebAssembly.validate(SimdProbe) ? './quorin-simd.wasm' : './quorin.wasm',
  import.meta.url);

// A value the add-in's host refuses before the add-in sees the call, named by the error code
// (CustomFunctions.ErrorCode) the host shows for it.
export class Refusal extends Error {
  constructor(code) {
    super(code);
    this.code = code;
  }
}

// What the custom functions declare beyond the catalogue: the random numbers are recalculated with
// every recalculation (the add-in registers them without the volatile mark), and the fits answer a
// row of terms values, which spills.
export const Volatile = new Set(['RandNorm', 'RandDist']);
export const RowAnswers = new Set(['LLSQ', 'LLSQLC']);

// Whether the function is declared to take its arguments' addresses: those that read ranges, so that
// calls over the same ranges can be answered together. Excel then wants a matrix result.
export function takesAddresses(entry) {
  return entry.arguments.some((argument) => argument.type === 'R');
}

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
// one instance and so the one random generator, as the add-in's callers share the add-in's. A load
// that fails is forgotten, so that the next caller tries again.
export function loadQuorin(url = ModuleUrl) {
  if (loading === null) {
    loading = instantiate(url).then((instance) => {
      instance.exports._initialize?.();
      return new Quorin(instance.exports);
    });
    loading.catch(() => {
      loading = null;
    });
  }
  return loading;
}

const Utf8 = new TextEncoder();
const Utf8Decoder = new TextDecoder();

export class Quorin {
  constructor(exports) {
    this.exports = exports;
    this.answers = exports.answers() / 8;
    this.text = exports.text();
    this.viewed = null;
    this.heap = null;
    // A call's converted scalars; every export takes at most three, and ignores any beyond its own.
    this.scalars = [0, 0, 0];
  }

  // The memory as doubles, indexed by address / 8: one view, taken again only after growing the
  // memory has detached it.
  doubles() {
    const { buffer } = this.exports.memory;
    if (buffer !== this.viewed) {
      this.viewed = buffer;
      this.heap = new Float64Array(buffer);
    }
    return this.heap;
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
  // value. Anything else, an error value or an argument left out among them, is refused.
  number(value) {
    if (typeof value === 'number') return value;
    if (typeof value === 'boolean') return value ? 1 : 0;
    if (value === null) return 0;
    if (typeof value === 'string') {
      const room = new Uint8Array(this.exports.memory.buffer, this.text, 256);
      const { read, written } = Utf8.encodeInto(value, room);
      if (read !== value.length || this.exports.readNumber(written) !== 0) throw new Refusal('invalidValue');
      return this.doubles()[this.answers];
    }
    if (Array.isArray(value) && value.length === 1 && Array.isArray(value[0]) && value[0].length === 1) {
      return this.number(value[0][0]);
    }
    throw new Refusal('invalidValue');
  }

  // An integer argument: number, then truncated toward zero; outside 32 bits the host refuses it.
  integer(value) {
    const number = this.number(value);
    if (!(Math.abs(number) < 2147483648)) throw new Refusal('invalidNumber');
    return Math.trunc(number);
  }

  // A range argument into the module's staging slot index, its rows laid end to end in one pass that
  // also checks they are rows of one length. Only numbers are values; whatever else an element holds
  // (text, a boolean, null, an error value) is counted, and the rules decide what that means.
  stage(index, range) {
    const rows = Array.isArray(range) ? range.length : -1;
    const columns = rows > 0 && Array.isArray(range[0]) ? range[0].length : 0;
    // No room (too many values, no memory) or not a range: the module answers the reader's failure.
    const address = rows < 0 ? 0 : this.exports.stageRange(index, rows, columns);
    if (address === 0) {
      if (rows < 0) this.exports.stageRange(index, -1, 0);
      return;
    }
    const heap = this.doubles();
    let at = address / 8;
    let others = 0;
    for (let r = 0; r < rows; ++r) {
      const row = range[r];
      if (!Array.isArray(row) || row.length !== columns) {
        this.exports.stageRange(index, -1, 0);
        return;
      }
      // A column, the usual shape of a range argument, needs no inner loop.
      if (columns === 1) {
        const value = row[0];
        if (typeof value === 'number') {
          heap[at++] = value;
        } else {
          heap[at++] = 0;
          ++others;
        }
        continue;
      }
      for (let c = 0; c < columns; ++c, ++at) {
        const value = row[c];
        if (typeof value === 'number') {
          heap[at] = value;
        } else {
          heap[at] = 0;
          ++others;
        }
      }
    }
    const cornerOther = rows * columns > 0 && typeof range[0][0] !== 'number' ? 1 : 0;
    this.exports.rangeStaged(index, others, cornerOther);
  }

  // The range arguments of a call to the function entry describes (a catalogue entry), staged in order.
  stageRanges(entry, values) {
    const { arguments: args } = entry;
    for (let a = 0, ranges = 0; a < args.length; ++a) if (args[a].type === 'R') this.stage(ranges++, values[a]);
  }

  // The scalars of a call, converted into this.scalars; throws a Refusal where the host refuses one.
  convertScalars(entry, values) {
    const { arguments: args } = entry;
    for (let a = 0, s = 0; a < args.length; ++a) {
      const type = args[a].type;
      if (type === 'J') this.scalars[s++] = this.integer(values[a]);
      else if (type !== 'R') this.scalars[s++] = this.number(values[a]);
    }
  }

  // Calls the function with its ranges staged already and the scalars converted: its status, 0 when
  // answer(0), ... hold the answer.
  callStaged(entry) {
    const { scalars } = this;
    return this.exports[entry.name](scalars[0], scalars[1], scalars[2]);
  }

  // Calls the function entry describes with Excel's values: its status, as callStaged's. Throws a
  // Refusal where the host refuses an argument before the add-in sees the call.
  call(entry, values) {
    this.convertScalars(entry, values);
    this.stageRanges(entry, values);
    return this.callStaged(entry);
  }

  answer(k) {
    return this.doubles()[this.answers + k];
  }

  rule(status) {
    return this.string(this.exports.statusText(status));
  }

  // Whether the function has a many-point export: the points of calls over the same ranges are then
  // answered together.
  hasPoints(entry) {
    return typeof this.exports[`${entry.name}Points`] === 'function';
  }

  // Room for count points in the module, as the index of the first x in doubles(): the y values
  // start count later and the answers 2 * count later; -1 when there is none.
  stagePoints(count) {
    const address = this.exports.stagePoints(count);
    return address === 0 ? -1 : address / 8;
  }

  // The function's many-point export over the staged ranges and points: its status.
  callPoints(entry, flag) {
    return this.exports[`${entry.name}Points`](flag);
  }
}
