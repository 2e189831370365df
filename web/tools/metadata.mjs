// metadata.mjs - writes functions.json and catalogue.js from the catalogue compiled into the module.
// Usage: node metadata.mjs QUORIN.wasm DIST BASE_URL
import { writeFile } from 'node:fs/promises';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { functionId, loadQuorin, RowAnswers, takesAddresses, Volatile } from '../quorin.js';

const [wasm, dist, baseUrl] = process.argv.slice(2);
const catalogue = (await loadQuorin(pathToFileURL(resolve(wasm)))).catalogue();

// Names and ids are the add-in's registered names, so that a workbook saved with the add-in computes
// with these functions (ids as functionId writes them). Every argument is
// required: a call that leaves one out is refused, as the add-in's host refuses it. Scalars carry no
// dimensionality, the default, as the Office tooling writes them. Every parameter is of type any and
// takes errors, so that an error cell reaches the rules as it reaches the add-in's. A function that
// reads ranges asks for its arguments' addresses, which Excel gives only with a matrix result.
const options = (entry) => ({
  ...(takesAddresses(entry) ? { requiresParameterAddresses: true } : {}),
  ...(Volatile.has(entry.name) ? { volatile: true } : {}),
});
const metadata = {
  allowErrorForDataTypeAny: true,
  functions: catalogue.map((entry) => ({
    id: functionId(entry.name),
    name: entry.name,
    description: entry.help,
    helpUrl: `${baseUrl}index.html#${entry.name}`,
    parameters: entry.arguments.map((argument) => ({
      name: argument.name,
      description: argument.help,
      type: 'any',
      ...(argument.type === 'R' ? { dimensionality: 'matrix' } : {}),
    })),
    result: { type: 'number', ...(RowAnswers.has(entry.name) || takesAddresses(entry) ? { dimensionality: 'matrix' } : {}) },
    ...(Object.keys(options(entry)).length > 0 ? { options: options(entry) } : {}),
  })),
};

await writeFile(join(dist, 'functions.json'), `${JSON.stringify(metadata, null, 2)}\n`);
await writeFile(join(dist, 'catalogue.js'),
  `// catalogue.js - generated from the add-in's catalogue at build time; do not edit.\n` +
  `export const Catalogue = ${JSON.stringify(catalogue, null, 2)};\n`);
