// A small static server for the demo page: serves this package's folder on
// the loopback address, so that demo/ can import the package and the
// browser can compile the module as it streams in (application/wasm).
//
//   node scripts/serve.mjs [PORT]    then open http://127.0.0.1:PORT/demo/
import { createServer } from 'node:http';
import { createReadStream, statSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml', '.png': 'image/png', '.json': 'application/json',
  '.m3u': 'audio/x-mpegurl', '.cue': 'text/plain; charset=utf-8', '.txt': 'text/plain; charset=utf-8',
};

/** Starts the server on 127.0.0.1 (`port` 0: any free port); resolves to it. */
export function serve(port = 0) {
  const server = createServer((req, res) => {
    let file;
    try {
      const url = new URL(req.url, 'http://localhost');
      file = path.join(root, decodeURIComponent(url.pathname));
      if (!file.startsWith(root + path.sep) && file !== root) throw new Error('outside');
      if (statSync(file).isDirectory()) file = path.join(file, 'index.html');
      statSync(file);
    } catch {
      res.writeHead(404, { 'content-type': 'text/plain' }).end('not found\n');
      return;
    }
    res.writeHead(200, { 'content-type': types[path.extname(file)] || 'application/octet-stream',
      'cache-control': 'no-store' });
    createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const server = await serve(Number(process.argv[2] || 8080));
  console.log(`http://127.0.0.1:${server.address().port}/demo/`);
}
