// Makes dist/lib/*.js, ES modules of the Node.js package's lib/*.js (the
// result objects and the option checks, which both packages share): each
// CommonJS file runs inside a function that gives it `module`, `exports`
// and a `require` for its few imports, and its exports are named again.
// Run by `make wasm` and by npm pack; the files made are not edited.
import { readFileSync, readdirSync, mkdirSync, writeFileSync, existsSync, renameSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const from = path.resolve(here, '..', 'node', 'lib');
const into = path.join(here, 'dist', 'lib');

if (!existsSync(from)) {
  // A tarball's own copy is all there is outside the source tree.
  if (existsSync(into)) process.exit(0);
  console.error(`lib.mjs: ${from} not found`);
  process.exit(1);
}

// What a file may require: the files beside it, and node:url, whose one
// function the option checks use for file: URLs.
const urlShim = `{ fileURLToPath(u) {
  const url = new URL(u);
  if (url.protocol !== 'file:') throw new TypeError('The URL must be of scheme file');
  return decodeURIComponent(url.pathname);
} }`;

const require = createRequire(import.meta.url);
mkdirSync(into, { recursive: true });
for (const file of readdirSync(from).filter((f) => f.endsWith('.js')).sort()) {
  const source = readFileSync(path.join(from, file), 'utf8');
  const names = Object.keys(require(path.join(from, file)));
  const siblings = [...source.matchAll(/require\('\.\/([\w-]+)'\)/g)].map((m) => m[1]);
  for (const m of source.matchAll(/require\('([^']+)'\)/g)) {
    if (!m[1].startsWith('./') && m[1] !== 'node:url') throw new Error(`${file}: cannot require ${m[1]} here`);
  }
  const imports = [...new Set(siblings)].map((s, i) => `import * as sibling${i} from './${s}.js';`);
  const table = [...new Set(siblings)].map((s, i) => `  './${s}': sibling${i},`);
  const out = `// Made by scripts/lib.mjs from the Node.js package's lib/${file}; do not edit.
${imports.join('\n')}
const required = {
${table.join('\n')}
  'node:url': ${urlShim},
};
const module = { exports: {} };
(function (module, exports, require) {
${source}
})(module, module.exports, (name) => required[name]);
export const { ${names.join(', ')} } = module.exports;
`;
  // Left alone when unchanged, else replaced whole: tests may be reading it.
  const target = path.join(into, file);
  if (existsSync(target) && readFileSync(target, 'utf8') === out) continue;
  writeFileSync(`${target}.${process.pid}`, out);
  renameSync(`${target}.${process.pid}`, target);
}
