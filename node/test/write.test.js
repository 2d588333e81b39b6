'use strict';
// Writing: results written back and parsed again give the same objects;
// lists of plain objects written through the builder; the errors of both.
// Also the IPTV members' shapes on the results.
const test = require('node:test');
const assert = require('node:assert/strict');

const kavlo = require('..');
const { allCases } = require('./cases');

// What a round trip keeps: the document without line numbers, warnings,
// diagnostics and #EXTGRP groups (the writer's contract) and the encoding.
function kept(result) {
  const doc = JSON.parse(JSON.stringify(result));
  delete doc.warnings;
  delete doc.diagnostics;
  doc.items = doc.items.map(({ line, groups, ...item }) => item);
  return doc;
}

for (const [file, c] of allCases()) {
  if (c.meta.status !== 'KAVLO_OK') continue;
  test(`round trip: ${file}: ${c.name}`, () => {
    const first = kavlo.parse(c.input, { format: c.meta.format, encoding: c.meta.encoding ?? '' });
    const text = first.toText({ bytes: true });
    assert.ok(Buffer.isBuffer(text));
    const again = kavlo.parse(text, { format: first.format, encoding: '' });
    assert.deepEqual(kept(again), kept(first));
    // The string form is the same text; written again it does not change.
    if (first.encoding !== 'raw') assert.equal(first.toText(), text.toString('utf8'));
    assert.deepEqual(again.toText({ bytes: true }), text);
  });
}

test('toText: formats and flags, as the library writes them', () => {
  const r = kavlo.parse('#EXTM3U x-tvg-url="http://e/g.xml"\n#PLAYLIST:Evening\n' +
    '#EXTINF:215 tvg-id="a1" group-title="Rock",Song\nhttp://x/1\n#EXTINF:-1,Radio\nhttp://x/2\n');
  const m3u = '#EXTM3U x-tvg-url="http://e/g.xml"\n#PLAYLIST:Evening\n' +
    '#EXTINF:215 tvg-id="a1" group-title="Rock",Song\nhttp://x/1\n#EXTINF:-1,Radio\nhttp://x/2\n';
  const table = [
    [{}, m3u],
    [{ format: 'auto' }, m3u],
    [{ format: 'M3U', crlf: true }, m3u.replace(/\n/g, '\r\n')],
    [{ format: 'streaming-list' }, 'Rock,#genre#\nSong,http://x/1\n,#genre#\nRadio,http://x/2\n'],
    [{ format: 'txt', bom: true }, '\uFEFFRock,#genre#\nSong,http://x/1\n,#genre#\nRadio,http://x/2\n'],
  ];
  for (const [options, want] of table) assert.equal(r.toText(options), want, JSON.stringify(options));
  assert.equal(r.toM3U({ bom: true }), `\uFEFF${m3u}`);
  assert.deepEqual(r.toM3U({ bytes: true, bom: true }).subarray(0, 3), Buffer.from([0xef, 0xbb, 0xbf]));
  // Edits of the objects do not show: toText() writes the parse.
  r.items[0].title = 'Edited';
  assert.equal(r.toM3U(), m3u);

  const sheet = kavlo.parse('TITLE "Album"\nFILE "a.wav" WAVE\n  TRACK 01 AUDIO\n    TITLE "One"\n' +
    '    INDEX 01 00:00:00\n');
  assert.match(sheet.toText(), /^TITLE "Album"\nFILE "a\.wav" WAVE\n {2}TRACK 01 AUDIO\n/);
  assert.equal(sheet.toM3U(), '#EXTM3U\n#EXTINF:-1,One\na.wav\n');
});

test('toText: errors', () => {
  const r = kavlo.parse('One,http://x/1\n');
  const table = [
    [() => r.toText({ format: 'cue' }), (e) => e instanceof kavlo.KavloError && e.code === 'ERR_FORMAT'],
    [() => r.toText({ format: 'm3u8-hls' }), RangeError],
    [() => r.toText({ format: 2 }), TypeError],
    [() => r.toText({ bom: 1 }), TypeError],
    [() => r.toM3U('crlf'), TypeError],
    [() => new kavlo.Result('m3u', false, [], null, [], {}, null, null, [], []).toText(), TypeError],
  ];
  for (const [call, error] of table) assert.throws(call, error);
});

// toText() parses the input again with the same options: a file (and its
// format and encoding), a buffer, the async forms; a file gone since gives
// the library's status.
test('toText: the input parsed again, from a file, a buffer and the async forms', async () => {
  const fs = require('node:fs');
  const os = require('node:os');
  const path = require('node:path');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-write-'));
  const sheet = path.join(dir, 'lower.cue');
  const cp1252 = Buffer.from('file "a.wav" wave\ntrack 01 audio\ntitle "Caf\xe9"\nindex 01 00:00:00\n', 'latin1');
  fs.writeFileSync(sheet, cp1252);
  const options = { format: 'cue', encoding: 'cp1252' };
  const written = 'FILE "a.wav" wave\n  TRACK 01 audio\n    TITLE "Café"\n    INDEX 01 00:00:00\n';
  for (const r of [kavlo.parseFile(sheet, options), await kavlo.parseFileAsync(sheet, options),
    kavlo.parse(cp1252, options), await kavlo.parseAsync(cp1252, options)]) {
    assert.equal(r.toText(), written);
  }
  const fromFile = kavlo.parseFile(sheet, options);
  fs.rmSync(dir, { recursive: true });
  assert.throws(() => fromFile.toText(), (e) => e instanceof kavlo.KavloError && e.code === 'ERR_IO');
});

test('write: plain objects through the builder', () => {
  const table = [
    ['a value with a quote, a group',
      [{ location: 'http://x/1', title: 'News HD', durationMs: 5000, attrs: { 'tvg-name': 'say"cheese"' },
        group: 'News' }], {},
      '#EXTM3U\n#EXTINF:5 tvg-name=say"cheese" group-title="News",News HD\nhttp://x/1\n'],
    ['pairs in order, options, header, no title or duration',
      [{ location: 'http://x/2', attrs: [['b', '2'], ['a', '1']],
        options: [{ tag: 'EXTVLCOPT', key: 'http-user-agent', value: 'UA/1' }, { tag: 'KODIPROP' }] }],
      { header: { 'x-tvg-url': 'http://e/' } },
      '#EXTM3U x-tvg-url="http://e/"\n#EXTVLCOPT:http-user-agent=UA/1\n#KODIPROP\n#EXTINF:-1 b="2" a="1",\n' +
      'http://x/2\n'],
    ['a group replaces the group-title attribute, in its place',
      [{ location: 'http://x/3', title: 'T', attrs: { 'Group-Title': 'Old', 'tvg-id': 'i' }, group: 'New' }], {},
      '#EXTM3U\n#EXTINF:-1 Group-Title="New" tvg-id="i",T\nhttp://x/3\n'],
    ['a streaming list: groups as NAME,#genre# lines, CR LF',
      [{ location: 'http://x/1', title: 'A', group: 'G1' }, { location: 'http://x/2', title: 'B', group: 'G1' },
        { location: 'http://x/3', title: 'C', attrs: { 'group-title': 'G2' } }], { format: 'txt', crlf: true },
      'G1,#genre#\r\nA,http://x/1\r\nB,http://x/2\r\nG2,#genre#\r\nC,http://x/3\r\n'],
    ['no items', [], {}, '#EXTM3U\n'],
  ];
  for (const [name, items, options, want] of table) assert.equal(kavlo.write(items, options), want, name);
  // What is written reads back as what was given.
  const [item] = kavlo.parse(kavlo.write(table[0][1])).items;
  assert.deepEqual([item.title, item.durationMs, item.attrs], ['News HD', 5000, { 'tvg-name': 'say"cheese"',
    'group-title': 'News' }]);
  assert.ok(Buffer.isBuffer(kavlo.write([], { bytes: true })));
});

test('write: the items of a parse, edited', () => {
  const text = '#EXTM3U\n#EXTVLCOPT:http-referrer=http://r/\n#EXTINF:10 tvg-id="a",One\nhttp://x/1\n' +
    '#EXTINF:-1 tvg-id="b",Two\nhttp://x/2\n';
  const r = kavlo.parse(text);
  assert.equal(kavlo.write(r.items, { header: r.header }), r.toM3U());
  r.items[1].title = 'Zwei';
  r.items[1].attrs['tvg-logo'] = 'l.png';
  const edited = kavlo.parse(kavlo.write(r.items.filter((i) => i.title !== 'One')));
  assert.deepEqual(edited.items.map((i) => [i.title, i.attrs]), [['Zwei', { 'tvg-id': 'b', 'tvg-logo': 'l.png' }]]);
  // Streaming entries keep their groups.
  const s = kavlo.parse('Sport,#genre#\nA,http://s/1\nB,http://s/2\n');
  assert.equal(kavlo.write(s.items, { format: 'streaming-list' }), s.toText());
});

test('write: errors', () => {
  const refused = (status) => (e) => e instanceof kavlo.KavloError && e.status === status && /^(items\[\d+\]|header): /.test(e.message);
  const invalid = refused(kavlo.Status.ERR_INVALID);
  const many = {};
  for (let k = 0; k < 65; ++k) many[`k${k}`] = 'v';
  const table = [
    ['not a list', 'http://x/', undefined, TypeError],
    ['not an object', [null], undefined, TypeError],
    ['no location', [{ title: 'T' }], undefined, TypeError],
    ['a NUL', [{ location: 'http://x/\0' }], undefined, TypeError],
    ['a value not a string', [{ location: 'http://x/', attrs: { a: 1 } }], undefined, TypeError],
    ['a pair not a pair', [{ location: 'http://x/', attrs: [['a']] }], undefined, TypeError],
    ['options not a list', [{ location: 'http://x/', options: { tag: 'X' } }], undefined, TypeError],
    ['a duration not a number', [{ location: 'http://x/', durationMs: '5' }], undefined, TypeError],
    ['a duration not whole', [{ location: 'http://x/', durationMs: 1.5 }], undefined, RangeError],
    ['a CUE sheet', [], { format: 'cue' }, RangeError],
    ['an unknown format', [], { format: 'pls' }, RangeError],
    ['a location that is a tag line', [{ location: '#EXTINF:1,x' }], undefined, invalid],
    ['a title with a line feed', [{ location: 'http://x/', title: 'a\nb' }], undefined, invalid],
    ['a duration too long', [{ location: 'http://x/', durationMs: 2147483001 }], undefined, invalid],
    ['a duration under -1', [{ location: 'http://x/', durationMs: -2 }], undefined, invalid],
    ['a key with white space', [{ location: 'http://x/', attrs: { 'a b': '1' } }], undefined, invalid],
    ['a quoted value with white space', [{ location: 'http://x/', attrs: { a: 'say "hi"' } }], undefined, invalid],
    ['a 65th attribute', [{ location: 'http://x/', attrs: many }], undefined, invalid],
    ['a tag the reader acts on', [{ location: 'http://x/', options: [{ tag: 'EXTINF' }] }], undefined, invalid],
    ['a header key with =', [], { header: { 'a=b': '1' } }, invalid],
  ];
  for (const [name, items, options, error] of table) assert.throws(() => kavlo.write(items, options), error, name);
  // The message names the entry and what of it.
  assert.throws(() => kavlo.write([{ location: 'http://x/1' }, { location: 'http://x/2', attrs: { 'a b': '1' } }]),
    { message: /^items\[1\]: attribute "a b" refused/ });
});

test('IPTV members: present when the entry has them, in the document order', () => {
  const s = kavlo.parse('News,#genre#\nOne,http://a/1$HD#http://b/1$SD#rtmp://c/1\nTwo,http://a/2\n');
  const [one, two] = s.items;
  assert.deepEqual([one.url, one.alternates, one.label, one.group], ['http://a/1', ['http://b/1', 'rtmp://c/1'], 'HD', 'News']);
  assert.deepEqual(Object.keys(one.toJSON()).slice(6), ['url', 'alternates', 'label', 'group']);
  assert.deepEqual(Object.keys(two.toJSON()).slice(6), ['group']);

  const m = kavlo.parse('#EXTM3U url-tvg="http://e/1.xml, http://e/2.xml" catchup="shift" ' +
    'http-user-agent="Box/1"\n#PLAYLIST:My list\n#EXTINF:-1 catchup-days="3",A\n#EXTGRP:Kids;Films\n' +
    '#EXTVLCOPT:http-referrer=http://r/\nhttp://m/1\n#EXTINF:-1,B\nhttp://m/2\n');
  assert.equal(m.title, 'My list');
  assert.deepEqual(m.epg, ['http://e/1.xml', 'http://e/2.xml']);
  const [a, b] = m.items;
  assert.deepEqual(a.groups, ['Kids', 'Films']);
  assert.deepEqual(a.http, { referer: 'http://r/', 'user-agent': 'Box/1' });
  assert.deepEqual(a.catchup, { mode: 'shift', days: '3' });
  assert.deepEqual(Object.keys(a.toJSON()).slice(6), ['options', 'groups', 'http', 'catchup']);
  assert.deepEqual([b.groups, b.http, b.catchup], [undefined, { 'user-agent': 'Box/1' }, { mode: 'shift' }]);
  assert.deepEqual(m.diagnostics, [{ line: 2, message: 'm3u: ignored tag', subject: '#PLAYLIST' },
    { line: 5, message: 'm3u: ignored tag', subject: '#EXTVLCOPT' }]);

  const bare = kavlo.parse('#EXTM3U\n#EXTINF:-1,X\nhttp://x/\n');
  assert.deepEqual([bare.title, bare.epg, bare.diagnostics], [null, [], []]);
  assert.deepEqual(Object.keys(bare.items[0].toJSON()), ['location', 'title', 'durationMs', 'releaseDate', 'attrs', 'line']);
});
