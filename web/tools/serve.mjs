// serve.mjs - build/web/dist over HTTPS on 127.0.0.1 for local development, with a throwaway
// certificate made at start and the page's Content-Security-Policy as a header.
// Usage: node web/tools/serve.mjs [PORT]   (3000 by default, the default base URL's)
import { serveDist } from '../test/server.mjs';

const { origin } = await serveDist(Number(process.argv[2] ?? 3000));
console.log(`serving build/web/dist at ${origin}/ (Ctrl+C stops)`);
