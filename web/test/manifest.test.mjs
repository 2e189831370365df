// manifest.test.mjs - the manifest in dist/: well-formed XML; read by the official converter of the
// Office tooling, which finds the XLL equivalence and the shared runtime in it; every address it
// holds under the base URL and naming a file of dist/; the equivalence last in VersionOverrides; one
// page for the runtime and everything that names a page.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { convert } from 'office-addin-manifest-converter';

import { Dist, Root } from './support.mjs';

const manifestPath = `${Dist}manifest.xml`;
const manifest = readFileSync(manifestPath, 'utf8');

test('the manifest is well-formed XML', () => {
  const lint = spawnSync('xmllint', ['--noout', manifestPath], { encoding: 'utf8' });
  assert.equal(lint.status, 0, lint.stderr);
});

test('the Office converter reads the XLL equivalence and the long-lived shared runtime', async () => {
  const out = mkdtempSync(join(tmpdir(), 'quorin-manifest-'));
  try {
    await convert(manifestPath, out, false, undefined, undefined, false);
    const unified = JSON.parse(readFileSync(join(out, 'manifest.json'), 'utf8'));
    const [extension] = unified.extensions;
    const preferred = extension.alternates.flatMap((a) => (a.prefer ? [a.prefer] : []));
    assert.deepEqual(preferred, [{ xllCustomFunctions: { fileName: 'quorin64.xll' } }]);
    assert.ok(extension.requirements.capabilities.some((c) => c.name === 'SharedRuntime' && c.minVersion === '1.1'));
    assert.ok(extension.runtimes.some((r) => r.lifetime === 'long' && r.code.page.endsWith('/index.html')));
    const version = readFileSync(`${Root}VERSION`, 'utf8').trim();
    assert.equal(unified.version, version);
  } finally {
    rmSync(out, { recursive: true, force: true });
  }
});

test('every address is under one base URL and names a file the build leaves in dist/', () => {
  const urls = [...manifest.matchAll(/DefaultValue="(https:[^"]*)"/g)].map((m) => m[1]);
  const base = urls.find((u) => u.endsWith('/index.html')).slice(0, -'index.html'.length);
  assert.ok(urls.length >= 10);
  for (const url of urls) {
    assert.ok(url.startsWith(base), url);
    assert.ok(existsSync(Dist + url.slice(base.length)), `${url} is not in dist/`);
  }
  for (const id of ['Functions.Script.Url', 'Functions.Metadata.Url', 'Taskpane.Url']) {
    assert.match(manifest, new RegExp(`<bt:Url id="${id}"`));
  }
});

test('EquivalentAddins is the last element of VersionOverrides, where Office reads it', () => {
  assert.match(manifest, /<\/EquivalentAddins>\s*<\/VersionOverrides>/);
});

test('the runtime, the functions\' page, the function file and the task pane are one page', () => {
  // Office starts no shared runtime when these name different resources.
  const runtime = /<Runtime resid="([^"]+)" lifetime="long"\/>/.exec(manifest)[1];
  const page = /<Page>\s*<SourceLocation resid="([^"]+)"\/>/.exec(manifest)[1];
  const functionFile = /<FunctionFile resid="([^"]+)"\/>/.exec(manifest)[1];
  const taskpane = /<Action xsi:type="ShowTaskpane">[\s\S]*?<SourceLocation resid="([^"]+)"\/>/.exec(manifest)[1];
  assert.deepEqual([page, functionFile, taskpane], [runtime, runtime, runtime]);
});
