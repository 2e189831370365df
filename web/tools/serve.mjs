// serve.mjs - a folder of the add-in over HTTPS on 127.0.0.1, at the port and path of the base URL its
// manifest names, with the page's Content-Security-Policy as a header: for trying the add-in on this
// machine. Office loads it only over a certificate the system trusts.
// Usage: node web/tools/serve.mjs [--cert FILE --key FILE] [--port PORT] [FOLDER]
//   FOLDER       build/web/dist by default, or an unpacked release's quorin-web-VERSION/
//   --cert --key the certificate and its private key (PEM); by default the localhost pair that
//                `npx office-addin-dev-certs install` leaves in ~/.office-addin-dev-certs, where it
//                exists, else a throwaway certificate that nothing trusts
//   --port       the port, by default the base URL's
import { existsSync, readFileSync } from 'node:fs';
import { homedir } from 'node:os';
import { join, resolve } from 'node:path';
import { parseArgs } from 'node:util';

import { Dist } from '../test/support.mjs';
import { serveDist, throwawayCertificate } from '../test/server.mjs';

const DevCertificates = join(homedir(), '.office-addin-dev-certs');

function fail(message) {
  console.error(`serve.mjs: ${message}`);
  process.exit(2);
}

function certificate(options) {
  if (Boolean(options.cert) !== Boolean(options.key)) fail('--cert and --key go together');
  const [cert, key] = options.cert ? [options.cert, options.key]
    : [join(DevCertificates, 'localhost.crt'), join(DevCertificates, 'localhost.key')];
  if (!options.cert && !(existsSync(cert) && existsSync(key))) {
    console.warn(`serve.mjs: no ${cert}: a throwaway certificate, which Office will not trust`);
    return { tls: throwawayCertificate(), from: 'a throwaway certificate' };
  }
  try {
    return { tls: { cert: readFileSync(cert), key: readFileSync(key) }, from: cert };
  } catch (error) {
    return fail(`cannot read the certificate: ${error.message}`);
  }
}

const { values: options, positionals } = parseArgs({
  options: { cert: { type: 'string' }, key: { type: 'string' }, port: { type: 'string' } },
  allowPositionals: true,
});
if (positionals.length > 1) fail('one folder at most');
const { tls, from } = certificate(options);
const folder = resolve(positionals[0] ?? Dist);
let manifest;
try {
  manifest = readFileSync(join(folder, 'manifest.xml'), 'utf8');
} catch {
  fail(`${folder} holds no manifest.xml: build the add-in, or name the folder of a release`);
}
const base = new URL(/<SourceLocation DefaultValue="([^"]*)index\.html"/.exec(manifest)?.[1] ?? 'https://localhost:3000/');
const port = Number(options.port ?? (base.port || 443));
if (!Number.isInteger(port) || port < 0 || port > 65535) fail(`not a port: ${options.port}`);
try {
  const { origin } = await serveDist({ port, folder, base: base.pathname, tls });
  console.log(`serving ${folder} at ${origin}${base.pathname} with ${from} (Ctrl+C stops)`);
  if (base.hostname !== 'localhost') console.log(`the manifest names ${base.origin}: Office will look there, not here`);
} catch (error) {
  fail(error.code === 'EADDRINUSE' ? `port ${port} is taken` : error.message);
}
