// page.js - the task pane: the function reference from the catalogue, and the curve of the chosen
// function through the points of the selected range, each point of the curve computed by the same
// custom function a cell would call, on axes labelled with round values.
import { Catalogue } from './catalogue.js';
import { customFunction } from './functions.js';

const Svg = 'http://www.w3.org/2000/svg';
const Samples = 201;
// The plotting area inside the 320 x 200 view box: room on the left and below for the tick labels.
const Area = Object.freeze({ left: 44, right: 300, top: 8, bottom: 176 });
const byName = Object.fromEntries(Catalogue.map((entry) => [entry.name, customFunction(entry)]));

function element(name, text, namespace) {
  const node = namespace ? document.createElementNS(namespace, name) : document.createElement(name);
  if (text !== undefined) node.textContent = text;
  return node;
}

function svgElement(name, attributes, text) {
  const node = element(name, text, Svg);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, v);
  return node;
}

function showReference() {
  const reference = document.getElementById('reference');
  for (const entry of Catalogue) {
    // Each function's heading is the target of its help address (functions.json's helpUrl).
    const heading = element('h3', `${entry.name}(${entry.arguments.map((a) => a.name).join(', ')})`);
    heading.id = entry.name;
    reference.append(heading);
    reference.append(element('p', entry.help));
    if (entry.arguments.length === 0) continue;
    const list = element('dl');
    for (const argument of entry.arguments) list.append(element('dt', argument.name), element('dd', argument.help));
    reference.append(list);
  }
  // A help address names its heading, which exists only now that the reference is written.
  if (location.hash) document.getElementById(decodeURIComponent(location.hash.slice(1)))?.scrollIntoView();
}

// The selection's part inside the sheet's used range: a whole-column selection reads its filled rows
// only (Excel on the web refuses to send a million empty cells), an empty sheet nothing.
async function selectedRows() {
  return Excel.run(async (context) => {
    const selected = context.workbook.getSelectedRange();
    const used = selected.worksheet.getUsedRangeOrNullObject(true);
    used.load('address');
    await context.sync();
    if (used.isNullObject) return [];
    const part = selected.getIntersectionOrNullObject(used);
    part.load('values');
    await context.sync();
    return part.isNullObject ? [] : part.values;
  });
}

// What a failed answer says: the add-in's failure carries its rule; a refused argument only its error.
function failureText(kind, failure) {
  if (failure?.message) return failure.message;
  return `${kind}: ${failure?.code ?? String(failure)}`;
}

// The curve's y at each x: the custom functions' own answers, every sample in one batch, as the
// cells of one recalculation reading the same ranges would be; an error answer leaves a gap.
async function curve(kind, X, Y, terms, xs) {
  const ranges = { parameterAddresses: ['curve x', 'curve y'] };
  const at = {
    Interp1: (x) => byName.Interp1(X, Y, x, 0, ranges),
    Lagrange: (x) => byName.Lagrange(X, Y, x, ranges),
    Spline: (x) => byName.Spline(X, Y, x, ranges),
  };
  if (kind === 'LLSQ') {
    const [coefficients] = await byName.LLSQ(X, Y, terms, ranges);
    if (typeof coefficients[0] !== 'number') return { failure: coefficients[0] };
    at.LLSQ = (x) => byName.Polynomial([coefficients], x, { parameterAddresses: ['curve coefficients'] });
  }
  const ys = (await Promise.all(xs.map(at[kind]))).map(([[y]]) => y);
  if (typeof ys[0] !== 'number' && xs.length === 1) return { failure: ys[0] };
  return { ys: ys.map((y) => (typeof y === 'number' ? y : null)) };
}

// The least and greatest of the finite values (gaps are null); a loop, since spreading a column's
// values into Math.min overflows the stack past some count (in V8, between 10^5 and 2 * 10^5).
function extent(values) {
  let [lo, hi] = [Infinity, -Infinity];
  for (const v of values) {
    if (!Number.isFinite(v)) continue;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  return [lo, hi];
}

// About five ticks at multiples of 1, 2 or 5 times a power of ten inside [lo, hi], each labelled
// with the digits its step needs (in exponent form for very large or very small steps).
function ticks(lo, hi) {
  const rough = (hi - lo) / 5;
  if (!(rough > 0 && Number.isFinite(rough))) return [];
  const power = 10 ** Math.floor(Math.log10(rough));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= rough * (1 - 1e-12));
  const exponent = Math.floor(Math.log10(step) + 1e-9);
  const largest = Math.max(Math.abs(lo), Math.abs(hi));
  const scientific = largest >= 1e6 || exponent < -4;
  const digits = scientific ? Math.max(0, Math.floor(Math.log10(largest)) - exponent) : Math.max(0, -exponent);
  const found = [];
  for (let k = Math.ceil(lo / step); k * step <= hi; ++k) {
    const value = k * step;
    found.push({ value, label: scientific ? value.toExponential(Math.min(digits, 20)) : value.toFixed(Math.min(digits, 20)) });
  }
  return found;
}

function drawAxes(svg, sx, sy, [x0, x1], [y0, y1]) {
  svg.append(svgElement('line', { class: 'axis', x1: Area.left, x2: Area.right, y1: Area.bottom, y2: Area.bottom }));
  svg.append(svgElement('line', { class: 'axis', x1: Area.left, x2: Area.left, y1: Area.top, y2: Area.bottom }));
  for (const { value, label } of ticks(x0, x1)) {
    const x = sx(value).toFixed(2);
    svg.append(svgElement('line', { class: 'tick', x1: x, x2: x, y1: Area.bottom, y2: Area.bottom + 3 }));
    svg.append(svgElement('text', { class: 'x-label', x, y: Area.bottom + 13 }, label));
  }
  for (const { value, label } of ticks(y0, y1)) {
    const y = sy(value).toFixed(2);
    svg.append(svgElement('line', { class: 'tick', x1: Area.left - 3, x2: Area.left, y1: y, y2: y }));
    svg.append(svgElement('text', { class: 'y-label', x: Area.left - 5, y }, label));
  }
}

function draw(svg, points, xs, ys) {
  svg.replaceChildren();
  const xRange = [xs[0], xs[xs.length - 1]];
  const [pointsLo, pointsHi] = extent(points.map(([, y]) => y));
  const [curveLo, curveHi] = extent(ys);
  const [y0, y1] = extent([pointsLo, pointsHi, curveLo, curveHi]);
  // A level curve still gets a height, centred on its value.
  const yRange = y0 < y1 ? [y0, y1] : [y0 - (Math.abs(y0) || 1), y1 + (Math.abs(y1) || 1)];
  const sx = (x) => Area.left + ((Area.right - Area.left) * (x - xRange[0])) / (xRange[1] - xRange[0] || 1);
  const sy = (y) => Area.bottom - ((Area.bottom - Area.top) * (y - yRange[0])) / (yRange[1] - yRange[0]);
  drawAxes(svg, sx, sy, xRange, yRange);
  // One polyline per run of answers, so that an error leaves a gap rather than a false segment.
  let run = [];
  const flush = () => {
    if (run.length > 1) svg.append(svgElement('polyline', { class: 'curve', points: run.join(' ') }));
    run = [];
  };
  xs.forEach((x, k) => (ys[k] === null ? flush() : run.push(`${sx(x).toFixed(2)},${sy(ys[k]).toFixed(2)}`)));
  flush();
  // One dot per half pixel: 10^5 selected points stay a few thousand elements.
  const drawn = new Set();
  for (const [x, y] of points) {
    const [cx, cy] = [sx(x), sy(y)];
    const cell = `${Math.round(2 * cx)},${Math.round(2 * cy)}`;
    if (drawn.has(cell)) continue;
    drawn.add(cell);
    svg.append(svgElement('circle', { class: 'point', cx: cx.toFixed(2), cy: cy.toFixed(2), r: 2.5 }));
  }
}

async function plot(message, svg) {
  const kind = document.getElementById('plot-function').value;
  const terms = Number(document.getElementById('plot-terms').value);
  let rows;
  try {
    rows = await selectedRows();
  } catch (error) {
    message.textContent = `The selection could not be read: ${error.message}`;
    return;
  }
  const X = rows.map((row) => [row[0]]);
  const Y = rows.map((row) => [row[1] ?? null]);
  const points = rows.filter((row) => typeof row[0] === 'number' && typeof row[1] === 'number');
  if (points.length < 2) {
    message.textContent = 'Select at least two rows of numbers: x in the first column, y in the second.';
    return;
  }
  const [lo, hi] = extent(points.map(([x]) => x));
  const xs = Array.from({ length: Samples }, (_, k) => lo + ((hi - lo) * k) / (Samples - 1));
  // The first point tells whether the function accepts these ranges at all, with its message.
  const probe = await curve(kind, X, Y, terms, [xs[0]]);
  if (probe.failure) {
    message.textContent = failureText(kind, probe.failure);
    return;
  }
  const { ys } = await curve(kind, X, Y, terms, xs);
  draw(svg, points, xs, ys);
}

function showTerms() {
  document.getElementById('terms-label').classList.toggle('hidden', document.getElementById('plot-function').value !== 'LLSQ');
}

Office.onReady(() => {
  showReference();
  showTerms();
  document.getElementById('plot-function').addEventListener('change', showTerms);
  document.getElementById('plot-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const message = document.getElementById('plot-message');
    const svg = document.getElementById('plot');
    message.textContent = '';
    svg.replaceChildren();
    // Busy while the curve is computed: assistive technology, and the tests, wait for the answer.
    svg.setAttribute('aria-busy', 'true');
    plot(message, svg)
      .catch((error) => { message.textContent = `The plot failed: ${error.message}`; })
      .finally(() => svg.removeAttribute('aria-busy'));
  });
});
