// server.mjs - a folder of the add-in (dist/ by default) over local HTTPS with the page's Content-
// Security-Policy as a header, as a static host would serve it, under the path its base URL names;
// the test and benchmark scripts under /test/ and /bench/.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { createServer } from 'node:https';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

import { Dist, Root } from './support.mjs';

const Types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.json': 'application/json',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.xml': 'application/xml',
};

const OfficeLibrary = 'https://appsforoffice.microsoft.com/lib/1/hosted/office.js';

// The policy a page declares, read from it so that the header and the page never differ.
function policyOf(html) {
  return /http-equiv="Content-Security-Policy" content="([^"]*)"/.exec(html)[1];
}

// A certificate and key for localhost and 127.0.0.1 that last a day, made by openssl; nothing trusts them.
export function throwawayCertificate() {
  const folder = mkdtempSync(join(tmpdir(), 'quorin-cert-'));
  try {
    execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1', '-subj', '/CN=localhost',
      '-addext', 'subjectAltName=DNS:localhost,IP:127.0.0.1',
      '-keyout', join(folder, 'key.pem'), '-out', join(folder, 'cert.pem')], { stdio: 'ignore' });
    return { key: readFileSync(join(folder, 'key.pem')), cert: readFileSync(join(folder, 'cert.pem')) };
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

// Listens on port of 127.0.0.1 (0: a free one), serving folder under base (a path ending in /) with
// tls ({ key, cert }); with officeStub, index.html loads office-stub.js in place of Office's library,
// for engines whose driver cannot answer a request itself. Answers { server, origin }.
export async function serveDist({ port = 0, folder = Dist, base = '/', tls = throwawayCertificate(), officeStub = false } = {}) {
  const page = readFileSync(join(folder, 'index.html'), 'utf8');
  const index = officeStub ? page.replace(OfficeLibrary, '/test/office-stub.js') : page;
  const policy = policyOf(page);
  const server = createServer(tls, async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'https://localhost').pathname));
    const ours = path.startsWith('/test/') || path.startsWith('/bench/');
    const inFolder = path.startsWith(base) ? path.slice(base.length) || 'index.html' : null;
    const file = ours ? join(Root, 'web', path) : inFolder !== null ? join(folder, inFolder) : null;
    try {
      if (file === null) throw new Error('outside the base path');
      const body = file === join(folder, 'index.html') ? index : await readFile(file);
      response.writeHead(200, {
        'Content-Type': Types[extname(file)] ?? 'application/octet-stream',
        'Content-Security-Policy': policy,
        'X-Content-Type-Options': 'nosniff',
      });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', resolve);
  });
  return { server, origin: `https://localhost:${server.address().port}` };
}
