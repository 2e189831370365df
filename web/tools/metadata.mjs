// metadata.mjs - writes functions.json and catalogue.js from the catalogue compiled into the module.
// Usage: node metadata.mjs QUORIN.wasm DIST
import { writeFile } from 'node:fs/promises';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { loadQuorin, RowAnswers, Volatile } from '../quorin.js';

const [wasm, dist] = process.argv.slice(2);
const catalogue = (await loadQuorin(pathToFileURL(resolve(wasm)))).catalogue();

// Names and ids are the add-in's registered names, so that a workbook saved with the add-in computes
// with these functions; ids in the upper case the Office tooling gives every id. Each argument may
// be omitted, as the add-in's may (a missing number is 0, a missing range the function's failure).
const metadata = {
  functions: catalogue.map((entry) => ({
    id: entry.name.toUpperCase(),
    name: entry.name,
    description: entry.help,
    parameters: entry.arguments.map((argument) => ({
      name: argument.name,
      description: argument.help,
      type: 'any',
      dimensionality: argument.type === 'R' ? 'matrix' : 'scalar',
      optional: true,
    })),
    result: { type: 'number', dimensionality: RowAnswers.has(entry.name) ? 'matrix' : 'scalar' },
    ...(Volatile.has(entry.name) ? { options: { volatile: true } } : {}),
  })),
};

await writeFile(join(dist, 'functions.json'), `${JSON.stringify(metadata, null, 2)}\n`);
await writeFile(join(dist, 'catalogue.js'),
  `// catalogue.js - generated from the add-in's catalogue at build time; do not edit.\n` +
  `export const Catalogue = ${JSON.stringify(catalogue, null, 2)};\n`);
