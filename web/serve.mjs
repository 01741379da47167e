// Serves a folder over HTTP on this machine's loopback address: enough to
// try the playground site (any static file server does as well).
//
// Usage: node web/serve.mjs [FOLDER] [PORT]   (defaults: build/web/site, 8000)
// As a module: startServer(folder, port) gives {url, close}.
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.json': 'application/json',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
};

export function startServer(folder, port = 0, host = '127.0.0.1') {
  const root = path.resolve(folder);
  const server = createServer(async (request, response) => {
    try {
      const { pathname } = new URL(request.url, 'http://localhost');
      let file = path.join(root, decodeURIComponent(pathname));
      if (!file.startsWith(root)) throw Object.assign(new Error('outside'), { code: 'ENOENT' });
      if ((await stat(file)).isDirectory()) file = path.join(file, 'index.html');
      const body = await readFile(file);
      response.writeHead(200, {
        'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
        'Content-Length': body.length,
        'Cache-Control': 'no-cache',
      });
      response.end(request.method === 'HEAD' ? undefined : body);
    } catch (error) {
      const missing = error.code === 'ENOENT' || error.code === 'ENOTDIR';
      response.writeHead(missing ? 404 : 500, { 'Content-Type': 'text/plain' });
      response.end(missing ? 'not found\n' : 'server error\n');
    }
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => {
      const { port: bound } = server.address();
      resolve({ url: `http://${host}:${bound}/`, close: () => new Promise((done) => server.close(done)) });
    });
  });
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const folder = process.argv[2] || 'build/web/site';
  const port = Number(process.argv[3] || 8000);
  startServer(folder, port).then(({ url }) => {
    console.log(`Serving ${path.resolve(folder)} at ${url} (Ctrl+C ends)`);
  });
}
