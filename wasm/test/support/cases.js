// The case files of tests/cases/ (Markdown: "### title", a meta comment, an
// input fence, the expected documents), read as the C++ suite reads them.
import { readFileSync, readdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..', '..');
const casesDir = path.join(root, 'tests', 'cases');

const formatCodes = { auto: -1, m3u: 0, 'm3u8-hls': 1, 'streaming-list': 2, cue: 3, unknown: 4 };

// The escapes of an input fence with "escape": \n \r \t \0 \xHH, a
// backslash before anything else keeps that character; line ends drop.
function unescape(text) {
  const out = [];
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (c === '\n') continue;
    if (c !== '\\' || i + 1 >= text.length) {
      out.push(...Buffer.from(c, 'utf8'));
      continue;
    }
    const e = text[++i];
    if (e === 'n') out.push(10);
    else if (e === 'r') out.push(13);
    else if (e === 't') out.push(9);
    else if (e === '0') out.push(0);
    else if (e === 'x') {
      out.push(parseInt(text.slice(i + 1, i + 3), 16));
      i += 2;
    } else out.push(...Buffer.from(e, 'utf8'));
  }
  return Buffer.from(out);
}

/** Every case: {name, file, input (a Buffer), format (a code), encoding}. */
export function loadCases() {
  const cases = [];
  for (const file of readdirSync(casesDir).filter((f) => f.endsWith('.md')).sort()) {
    const lines = readFileSync(path.join(casesDir, file), 'utf8').split('\n');
    let cur = null;
    let body = null;
    for (let n = 0; n < lines.length; ++n) {
      const line = lines[n];
      if (body !== null) {
        if (line === '```') {
          if (cur && cur.input === undefined) {
            const text = body.join('');
            cur.input = cur.escape ? unescape(text) : Buffer.from(text, 'utf8');
          }
          body = null;
        } else {
          body.push(`${line}\n`);
        }
      } else if (line.startsWith('### ')) {
        cur = { name: `${file}: ${line.slice(4)}`, format: -1, encoding: null, escape: false };
        cases.push(cur);
      } else if (cur && line.startsWith('<!-- meta=')) {
        const meta = JSON.parse(line.slice(10, -4));
        if (meta.format !== undefined) {
          cur.format = typeof meta.format === 'number' ? meta.format : formatCodes[meta.format];
        }
        if (meta.encoding !== undefined) cur.encoding = meta.encoding;
        cur.escape = meta.escape === true;
        if (meta.file !== undefined) cur.input = readFileSync(path.join(root, 'tests', 'data', meta.file));
      } else if (cur && line.startsWith('```')) {
        body = [];
      }
    }
  }
  for (const c of cases) if (c.input === undefined) throw new Error(`case without input: ${c.name}`);
  return cases;
}
