// server.mjs - dist/ over local HTTPS with a throwaway certificate and the page's Content-Security-
// Policy as a header, as a static host would serve it; the test and benchmark scripts under /test/
// and /bench/.
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

// The policy index.html declares, read from it so that the header and the page never differ.
export const Policy = /http-equiv="Content-Security-Policy" content="([^"]*)"/.exec(readFileSync(`${Dist}index.html`, 'utf8'))[1];

function certificate() {
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

// Listens on port of 127.0.0.1 (0: a free one); answers { server, origin }.
export async function serveDist(port = 0) {
  const server = createServer(certificate(), async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'https://localhost').pathname));
    const ours = path.startsWith('/test/') || path.startsWith('/bench/');
    const file = ours ? join(Root, 'web', path) : join(Dist, path === '/' ? 'index.html' : path);
    try {
      const body = await readFile(file);
      response.writeHead(200, {
        'Content-Type': Types[extname(file)] ?? 'application/octet-stream',
        'Content-Security-Policy': Policy,
        'X-Content-Type-Options': 'nosniff',
      });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve));
  return { server, origin: `https://localhost:${server.address().port}` };
}
