'use strict';
// The cases of tests/cases/*.md, read as the C++ loader reads them.
const fs = require('node:fs');
const path = require('node:path');

const kavlo = require('..');

const root = path.resolve(__dirname, '..', '..');
const casesDir = path.join(root, 'tests', 'cases');

function unescape(body) {
  return Buffer.from(body.replace(/\n/g, '').replace(/\\(x[0-9A-Fa-f]{2}|.)/g, (m, e) => {
    if (e[0] === 'x' && e.length === 3) return String.fromCharCode(parseInt(e.slice(1), 16));
    return { n: '\n', r: '\r', t: '\t', 0: '\0' }[e] ?? e;
  }), 'latin1');
}

// The cases of one file: name, meta, input (bytes), json and full.
function load(file) {
  const cases = [];
  let cur = null;
  let fence = null;
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    if (fence !== null) {
      if (line === '```') {
        cur.fences.push(fence);
        fence = null;
      } else {
        fence += `${line}\n`;
      }
    } else if (line.startsWith('### ')) {
      cur = { name: line.slice(4), meta: {}, fences: [] };
      cases.push(cur);
    } else if (cur && line.startsWith('<!-- meta=')) {
      cur.meta = JSON.parse(line.slice(10, -4));
    } else if (cur && line.startsWith('```')) {
      fence = '';
    }
  }
  for (const c of cases) {
    const [input, json, full] = c.fences;
    c.input = c.meta.file ? fs.readFileSync(path.join(root, 'tests', 'data', c.meta.file))
      : c.meta.escape ? unescape(input) : Buffer.from(input, 'utf8');
    c.json = json.replace(/\n$/, '');
    c.full = full && full.replace(/\n$/, '').replace('@VERSION@', kavlo.version);
  }
  return cases;
}

/** Every case of every file: [file, case]. */
function allCases() {
  const out = [];
  for (const file of fs.readdirSync(casesDir).filter((f) => f.endsWith('.md')).sort()) {
    for (const c of load(path.join(casesDir, file))) out.push([file, c]);
  }
  return out;
}

module.exports = { root, casesDir, load, allCases };
