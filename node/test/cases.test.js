'use strict';
// Every case of tests/cases/*.md through the package: the status and error
// of a failing case; for the others the result against the library's full
// document of the same bytes, member for member, and against the case
// file's own documents; once from memory and once from a file.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const kavlo = require('..');
const { casesDir, load } = require('./cases');

// JSON.parse, except that of a key repeated in an object the first value
// wins, as in the package's attribute objects (the document lists both).
function parseFirstWins(text) {
  let i = 0;
  const ws = () => { while (' \t\n\r'.includes(text[i])) ++i; };
  const value = () => {
    ws();
    if (text[i] === '{') {
      const obj = {};
      ++i;
      for (ws(); text[i] !== '}'; ws()) {
        if (text[i] === ',') { ++i; continue; }
        const key = value();
        ws();
        ++i; // ':'
        const v = value();
        if (!Object.hasOwn(obj, key)) Object.defineProperty(obj, key, { value: v, enumerable: true, writable: true, configurable: true });
      }
      ++i;
      return obj;
    }
    if (text[i] === '[') {
      const list = [];
      ++i;
      for (ws(); text[i] !== ']'; ws()) {
        if (text[i] === ',') { ++i; continue; }
        list.push(value());
      }
      ++i;
      return list;
    }
    const m = /^("(?:[^"\\]|\\.)*"|-?[0-9]+|true|false|null)/.exec(text.slice(i, i + 1e6));
    i += m[0].length;
    return JSON.parse(m[0]);
  };
  return value();
}

// The compact document: the full one without the members only it has.
function compact(doc) {
  const { version, header, title, epg, diagnostics, ...root } = doc;
  root.items = root.items.map(({ line, options, url, headers, alternates, label, group, groups, http, catchup,
    ...item }) => item);
  if (root.cue) {
    const { songwriter, catalog, cdtextfile, rem, ...cue } = root.cue;
    cue.tracks = cue.tracks.map(({ performer, songwriter: s, isrc, flags, datatype, pregap, postgap, rem: r, ...t }) => t);
    root.cue = cue;
  }
  return root;
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-cases-'));
test.after(() => fs.rmSync(dir, { recursive: true, force: true }));

const status = (name) => kavlo.Status[name.replace(/^KAVLO_/, '')];

for (const file of fs.readdirSync(casesDir).filter((f) => f.endsWith('.md')).sort()) {
  for (const c of load(path.join(casesDir, file))) {
    test(`${file}: ${c.name}`, () => {
      const options = { format: c.meta.format, encoding: c.meta.encoding ?? '' };
      const onDisk = path.join(dir, 'input');
      fs.writeFileSync(onDisk, c.input);
      const expected = status(c.meta.status);
      if (expected !== kavlo.Status.OK) {
        for (const call of [() => kavlo.parse(c.input, options), () => kavlo.parseFile(onDisk, options)]) {
          assert.throws(call, (e) => e instanceof kavlo.KavloError && e.status === expected &&
            (c.meta.error === undefined || e.message === c.meta.error));
        }
        return;
      }
      const text = kavlo.parseToJson(c.input, options);
      const results = [kavlo.parse(c.input, options), kavlo.parseFile(onDisk, options)];
      for (const r of results) {
        if (text === '{}') {
          // No document: a string kept as undecodable bytes. The result
          // still has every item.
          assert.ok(r.items.length > 0);
          continue;
        }
        const mine = JSON.parse(JSON.stringify(r));
        assert.deepEqual(mine, parseFirstWins(text));
        assert.deepEqual(compact(mine), parseFirstWins(c.json));
        if (c.full) assert.deepEqual(mine, parseFirstWins(c.full));
      }
    });
  }
}
