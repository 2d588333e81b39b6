// The native library's answers, from the helper program reference.c
// (KAVLO_REFERENCE names it; `make test-wasm` builds it), and a JSON reader
// that keeps the first of repeated keys, as the library's lookups and the
// result objects do.
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

export const referencePath = process.env.KAVLO_REFERENCE || '';
export const haveReference = referencePath !== '' && existsSync(referencePath);

const work = mkdtempSync(path.join(tmpdir(), 'kavlo-wasm-'));
process.on('exit', () => rmSync(work, { recursive: true, force: true }));
let count = 0;

/** {status, error, json, written, m3u} of the native parse of `bytes`:
 *  written and m3u the bytes the library writes of its result in its own
 *  format and in M3U (null when it cannot; both null for a failed parse). */
export function reference(bytes, format, encoding) {
  const file = path.join(work, `input-${count++}`);
  writeFileSync(file, bytes);
  const run = spawnSync(referencePath, [file, String(format), encoding === null ? '-' : encoding],
    { encoding: 'utf8', maxBuffer: 1 << 30 });
  if (run.status !== 0) throw new Error(`reference failed: ${run.stderr}`);
  const [status, error, json, written, m3u] = run.stdout.replace(/\n$/, '').split('\n');
  const bytesOf = (hex) => (hex === undefined || hex === '-' ? null : Buffer.from(hex, 'hex'));
  return { status: Number(status), error, json, written: bytesOf(written), m3u: bytesOf(m3u) };
}

/** JSON.parse, but the first of repeated member names wins. */
export function parseFirstWins(text) {
  let at = 0;
  const space = () => { while (/\s/.test(text[at] ?? '')) ++at; };
  const value = () => {
    space();
    const c = text[at];
    if (c === '{') {
      ++at;
      const obj = {};
      space();
      if (text[at] === '}') return ++at, obj;
      for (;;) {
        space();
        const key = string();
        space();
        ++at;  // ':'
        const v = value();
        if (!Object.hasOwn(obj, key)) Object.defineProperty(obj, key, { value: v, enumerable: true, writable: true, configurable: true });
        space();
        if (text[at++] === '}') return obj;
      }
    }
    if (c === '[') {
      ++at;
      const list = [];
      space();
      if (text[at] === ']') return ++at, list;
      for (;;) {
        list.push(value());
        space();
        if (text[at++] === ']') return list;
      }
    }
    if (c === '"') return string();
    const m = /^(true|false|null|-?\d+(\.\d+)?([eE][+-]?\d+)?)/.exec(text.slice(at, at + 40));
    at += m[0].length;
    return JSON.parse(m[0]);
  };
  const string = () => {
    const start = at++;
    while (text[at] !== '"') at += text[at] === '\\' ? 2 : 1;
    return JSON.parse(text.slice(start, ++at));
  };
  const v = value();
  space();
  if (at !== text.length) throw new SyntaxError(`trailing text at ${at}`);
  return v;
}
