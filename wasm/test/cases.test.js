// The WebAssembly build against the native library on every case file of
// tests/cases/ and on texts in the legacy encodings iconv converts: the
// same status, error text and full document, and result objects that say
// what the document says.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

import * as kavlo from '../index.js';
import * as core from '../lib/core.js';
import { loadCases, root } from './support/cases.js';
import { haveReference, reference, parseFirstWins } from './support/reference.js';

const skip = haveReference ? false : 'the native reference program is missing (make test-wasm builds it)';

// The Node.js package, when its addon is built: both packages make their
// objects with the same lib/result.js from tables of their own producer,
// which must agree field for field (an empty CUE field is "", not absent).
const nodePackage = path.join(root, 'node');
const native = existsSync(path.join(nodePackage, 'build', 'Release', 'kavlo.node'))
  ? createRequire(import.meta.url)(nodePackage) : null;
const members = (r) => ({ ...r, items: r.items.map((i) => i.toJSON()),
  cue: r.cue && { ...r.cue, tracks: r.cue.tracks.map((t) => t.toJSON()) } });

const examples = (name) => readFileSync(path.join(root, 'examples', name));
const hex = (h) => Buffer.from(h, 'hex');

// Texts in named legacy encodings (and the library's chain for unnamed
// ones): each name must reach musl's iconv inside the module as it reaches
// the system's iconv natively.
const legacy = [
  ['GBK, unnamed (the chain)', examples('stations-gbk.txt'), null],
  ['GBK, named', examples('stations-gbk.txt'), 'gbk'],
  ['CP1252, unnamed', examples('chansons-cp1252.m3u'), null],
  ['CP1252, named', examples('chansons-cp1252.m3u'), 'windows-1252'],
  ['UTF-16 with a mark', examples('sheet-utf16.cue'), null],
  ['UTF-16BE, named', Buffer.concat([hex('0068007400740070003a002f002f0078002f'), hex('00610062')]), 'utf-16be'],
  ['Big5', Buffer.concat([hex('a4a4a4e5a578'), Buffer.from(',http://x/a\n')]), 'big5'],
  ['Shift_JIS', Buffer.concat([hex('93fa967b8cea'), Buffer.from(',http://x/a\n')]), 'shift_jis'],
  ['EUC-JP', Buffer.concat([hex('c6fccbdcb8ec'), Buffer.from(',http://x/a\n')]), 'euc-jp'],
  ['EUC-KR', Buffer.concat([hex('c7d1b1b9beee'), Buffer.from(',http://x/a\n')]), 'euc-kr'],
  ['KOI8-R', Buffer.concat([hex('f0d2c9d7c5d4'), Buffer.from(',http://x/a\n')]), 'koi8-r'],
  ['CP1251', Buffer.concat([hex('cff0e8e2e5f2'), Buffer.from(',http://x/a\n')]), 'cp1251'],
  ['CP1250', Buffer.concat([hex('4b7562699a6f76e1'), Buffer.from(',http://x/a\n')]), 'windows-1250'],
  ['a name iconv does not know', Buffer.from('http://x/a\n'), 'no-such-encoding'],
  ['bytes invalid in the named encoding', hex('ff2c41'), 'utf-16le'],
  ['text no encoding reads, kept byte for byte', hex('f5808080,687474703a2f2f782f0a'.replace(',', '2c')), null],
];

const cases = [
  ...loadCases().map((c) => [c.name, c.input, c.format, c.encoding]),
  ...legacy.map(([name, input, encoding]) => [`legacy: ${name}`, input, -1, encoding]),
];

for (const [name, input, format, encoding] of cases) {
  test(name, { skip }, () => {
    const want = reference(input, format, encoding);
    const got = core.json(input, format, encoding);
    assert.equal(got.status, want.status, 'status');
    assert.equal(got.error, want.error, 'error text');
    assert.equal(got.json, want.json, 'full document');
    if (want.status !== 0) {
      assert.throws(() => kavlo.parse(input, { format, encoding: encoding ?? '' }),
        (e) => e instanceof kavlo.KavloError && e.status === want.status && e.message === want.error);
      return;
    }
    // The objects made from the tables carry the document member for
    // member (toJSON writes it from them), the first of repeated keys
    // winning; a document that could not be written ("{}") has nothing to
    // compare with.
    const result = kavlo.parse(input, { format, encoding: encoding ?? '' });
    if (want.json !== '{}') assert.deepEqual(JSON.parse(JSON.stringify(result)), parseFirstWins(want.json));
    if (native) assert.deepEqual(members(result), members(native.parse(input, { format, encoding: encoding ?? '' })));
    assert.equal(kavlo.parseToJson(input, { format, encoding: encoding ?? '' }), want.json);
    // Written back, byte for byte as the library writes it, after another
    // parse has taken the module's playlist.
    kavlo.parse('#EXTM3U\n#EXTINF:1,other\nhttp://other/\n');
    for (const [text, write] of [[want.written, () => result.toText({ bytes: true })],
      [want.m3u, () => result.toM3U({ bytes: true })]]) {
      if (text === null) assert.throws(write, (e) => e instanceof kavlo.KavloError && e.status === kavlo.Status.ERR_FORMAT);
      else assert.deepEqual(Buffer.from(write()), text);
    }
  });
}
