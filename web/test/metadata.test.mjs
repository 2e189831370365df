// metadata.test.mjs - functions.json as the add-in registers its functions (quorin-host's listing of
// the native registration), and as the official custom-functions-metadata tooling writes it from
// declarations of the same functions, with no error reported.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { parseTree } from 'custom-functions-metadata';

import { Dist, native } from './support.mjs';

const metadata = JSON.parse(readFileSync(`${Dist}functions.json`, 'utf8'));

test('names, descriptions, argument names and helps are the native registration', () => {
  // quorin-host's listing: "Name(arg,...)    [category: ...]", the help, then "    arg: help" lines.
  const listing = metadata.functions.map((f) => [
    `${f.name}(${f.parameters.map((p) => p.name).join(',')})`,
    `  ${f.description}`,
    ...f.parameters.map((p) => `    ${p.name}: ${p.description}`),
  ].join('\n')).join('\n');
  const registered = native('functions').replace(/ {4}\[category: [^\]]*\]/g, '').trimEnd();
  assert.equal(listing, registered);
});

test('the official tooling writes the same metadata from the same declarations, without errors', () => {
  const type = (dimensionality, scalar) => (dimensionality === 'matrix' ? `${scalar}[][]` : scalar);
  const declarations = metadata.functions.map((f) => [
    '/**',
    ` * ${f.description}`,
    ` * @customfunction ${f.id} ${f.name}`,
    ...f.parameters.map((p) => ` * @param {${type(p.dimensionality, p.type)}} ${p.name} ${p.description}`),
    ' * @param {CustomFunctions.Invocation} invocation',
    ` * @returns {${type(f.result.dimensionality, f.result.type)}}`,
    ` * @helpurl ${f.helpUrl}`,
    ...(f.options?.volatile ? [' * @volatile'] : []),
    ...(f.options?.requiresParameterAddresses ? [' * @requiresParameterAddresses'] : []),
    ' */',
    `function ${f.name}(${[...f.parameters.map((p) => p.name), 'invocation'].join(', ')}) {}`,
  ].join('\n')).join('\n\n');
  const parsed = parseTree(declarations, 'functions.js');
  assert.deepEqual(parsed.extras.flatMap((extra) => extra.errors), []);
  assert.deepEqual(JSON.parse(JSON.stringify(parsed.functions)), metadata.functions);
});

// A workbook saved on Windows names the functions by the namespace and the ids Excel stores for them:
// both stay those of the first release, whose functions.json is kept beside this test.
test('ids, names and the namespace are those of the first release', () => {
  const released = JSON.parse(readFileSync(new URL('./functions.released.json', import.meta.url), 'utf8'));
  const pairs = (functions) => functions.map((f) => [f.id, f.name]);
  assert.deepEqual(pairs(metadata.functions), pairs(released.functions));
  assert.match(readFileSync(`${Dist}manifest.xml`, 'utf8'), /<bt:String id="Functions.Namespace" DefaultValue="QUORIN"\/>/);
});
