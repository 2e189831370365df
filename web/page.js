// page.js - the task pane: the function reference from the catalogue, and the curve of the chosen
// function through the points of the selected range, each point of the curve computed by the same
// custom function a cell would call.
import { Catalogue } from './catalogue.js';
import { customFunction } from './functions.js';

const Svg = 'http://www.w3.org/2000/svg';
const Samples = 201;
const byName = Object.fromEntries(Catalogue.map((entry) => [entry.name, customFunction(entry)]));

function element(name, text, namespace) {
  const node = namespace ? document.createElementNS(namespace, name) : document.createElement(name);
  if (text !== undefined) node.textContent = text;
  return node;
}

function showReference() {
  const reference = document.getElementById('reference');
  for (const entry of Catalogue) {
    reference.append(element('h3', `${entry.name}(${entry.arguments.map((a) => a.name).join(', ')})`));
    reference.append(element('p', entry.help));
    if (entry.arguments.length === 0) continue;
    const list = element('dl');
    for (const argument of entry.arguments) list.append(element('dt', argument.name), element('dd', argument.help));
    reference.append(list);
  }
}

// The selected range's first two columns as the x and y ranges, as a formula would take them.
async function selectedPoints() {
  return Excel.run(async (context) => {
    const range = context.workbook.getSelectedRange();
    range.load('values');
    await context.sync();
    return range.values;
  });
}

// The curve's y at each x: the custom functions' own answers; an error answer leaves a gap.
async function curve(kind, X, Y, terms, xs) {
  const at = {
    Interp1: (x) => byName.Interp1(X, Y, x, 0),
    Lagrange: (x) => byName.Lagrange(X, Y, x),
    Spline: (x) => byName.Spline(X, Y, x),
  };
  if (kind === 'LLSQ') {
    const coefficients = await byName.LLSQ(X, Y, terms);
    if (!Array.isArray(coefficients)) return { failure: coefficients };
    at.LLSQ = (x) => byName.Polynomial(coefficients, x);
  }
  const ys = [];
  for (const x of xs) {
    const y = await at[kind](x);
    if (typeof y !== 'number' && xs.length === 1) return { failure: y };
    ys.push(typeof y === 'number' ? y : null);
  }
  return { ys };
}

function draw(svg, points, xs, ys) {
  svg.replaceChildren();
  const all = [...points.map(([, y]) => y), ...ys.filter((y) => y !== null)];
  const [x0, x1] = [xs[0], xs[xs.length - 1]];
  const [y0, y1] = [Math.min(...all), Math.max(...all)];
  const sx = (x) => 10 + (300 * (x - x0)) / (x1 - x0 || 1);
  const sy = (y) => 190 - (180 * (y - y0)) / (y1 - y0 || 1);
  const axis = element('line', undefined, Svg);
  axis.setAttribute('class', 'axis');
  for (const [k, v] of Object.entries({ x1: 10, x2: 310, y1: 190, y2: 190 })) axis.setAttribute(k, v);
  svg.append(axis);
  // One polyline per run of answers, so that an error leaves a gap rather than a false segment.
  let run = [];
  const flush = () => {
    if (run.length > 1) {
      const line = element('polyline', undefined, Svg);
      line.setAttribute('class', 'curve');
      line.setAttribute('points', run.join(' '));
      svg.append(line);
    }
    run = [];
  };
  xs.forEach((x, k) => (ys[k] === null ? flush() : run.push(`${sx(x).toFixed(2)},${sy(ys[k]).toFixed(2)}`)));
  flush();
  for (const [x, y] of points) {
    const dot = element('circle', undefined, Svg);
    dot.setAttribute('class', 'point');
    for (const [k, v] of Object.entries({ cx: sx(x).toFixed(2), cy: sy(y).toFixed(2), r: 2.5 })) dot.setAttribute(k, v);
    svg.append(dot);
  }
}

async function plot(event) {
  event.preventDefault();
  const message = document.getElementById('plot-message');
  const svg = document.getElementById('plot');
  message.textContent = '';
  const kind = document.getElementById('plot-function').value;
  const terms = Number(document.getElementById('plot-terms').value);
  const rows = await selectedPoints();
  const X = rows.map((row) => [row[0]]);
  const Y = rows.map((row) => [row[1] ?? null]);
  const points = rows.filter((row) => typeof row[0] === 'number' && typeof row[1] === 'number');
  if (points.length < 2) {
    message.textContent = 'Select at least two rows of numbers: x in the first column, y in the second.';
    return;
  }
  const xValues = points.map(([x]) => x);
  const [lo, hi] = [Math.min(...xValues), Math.max(...xValues)];
  const xs = Array.from({ length: Samples }, (_, k) => lo + ((hi - lo) * k) / (Samples - 1));
  // The first point tells whether the function accepts these ranges at all, with its message.
  const probe = await curve(kind, X, Y, terms, [xs[0]]);
  if (probe.failure) {
    message.textContent = probe.failure.message || String(probe.failure.code ?? probe.failure);
    svg.replaceChildren();
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
    plot(event).catch((error) => {
      document.getElementById('plot-message').textContent = `The selection could not be read: ${error.message}`;
    });
  });
});
