'use strict';
// encoding: "auto": legacy text in the encoding uchardet finds, the
// library's chain when it finds none, and the encoding used on the result.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const kavlo = require('..');

// Russian station names in KOI8-R ("Радио Маяк", "Наше радио", "Европа
// Плюс"); read without a name, the library's chain makes Chinese of them.
const names = ['Радио Маяк', 'Наше радио', 'Европа Плюс'];
const koi8 = Buffer.from(
  'f2c1c4c9cf20edc1d1cb2c687474703a2f2f3139382e35312e3130302e312f0a' +
  'eec1dbc520d2c1c4c9cf2c687474703a2f2f3139382e35312e3130302e322f0a' +
  'e5d7d2cfd0c120f0ccc0d32c687474703a2f2f3139382e35312e3130302e332f0a', 'hex');

test('legacy text is read in the encoding found', async () => {
  const r = kavlo.parse(koi8, { encoding: 'auto' });
  assert.deepEqual([r.items.map((i) => i.title), r.encoding, r.warnings], [names, 'KOI8-R', []]);
  const plain = kavlo.parse(koi8);
  assert.notDeepEqual(plain.items.map((i) => i.title), names);
  assert.equal(plain.encoding, null);
  const later = await kavlo.parseAsync(koi8, { encoding: 'AUTO' });
  assert.equal(later.encoding, 'KOI8-R');
});

test('UTF-8 and marked text as the library reads it; no guess fails a parse', () => {
  assert.equal(kavlo.parse('Радио,http://198.51.100.1/\n', { encoding: 'auto' }).encoding, 'UTF-8');
  const utf16 = Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from('A,http://198.51.100.1/\n', 'utf16le')]);
  assert.equal(kavlo.parse(utf16, { encoding: 'auto' }).encoding, 'UTF-16LE');
  // "café" with é last converts from no multi-byte page: the chain reads it.
  const r = kavlo.parse(Buffer.from('caf\xe9,http://198.51.100.9/\n', 'latin1'), { encoding: 'auto' });
  assert.equal(r.items[0].title, 'café');
  assert.throws(() => kavlo.parse(Buffer.from([0xff, 0xfe, 0x41]), { encoding: 'auto' }),
    (e) => e instanceof kavlo.KavloError && e.status === kavlo.Status.ERR_DECODE);
});

test('files', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-auto-'));
  try {
    const file = path.join(dir, 'list.txt');
    fs.writeFileSync(file, koi8);
    const r = kavlo.parseFile(file, { encoding: 'auto' });
    assert.deepEqual([r.items.map((i) => i.title), r.encoding], [names, 'KOI8-R']);
    assert.equal((await kavlo.parseFileAsync(file, { encoding: 'auto' })).encoding, 'KOI8-R');
    assert.throws(() => kavlo.parseFile(path.join(dir, 'missing.txt'), { encoding: 'auto' }),
      (e) => e.status === kavlo.Status.ERR_IO && e.message.startsWith('io: '));
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
