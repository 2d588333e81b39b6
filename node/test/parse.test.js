'use strict';
// The package over the built library: formats, encodings, input types,
// errors, results as copies, the JSON document and the IPTV view.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { pathToFileURL } = require('node:url');

const kavlo = require('..');

const examples = path.resolve(__dirname, '..', '..', 'examples');
const example = (name) => path.join(examples, name);

test('M3U: items, attributes, warnings and the document', () => {
  const r = kavlo.parseFile(example('iptv.m3u'));
  assert.equal(r.format, 'm3u');
  assert.equal(r.imdbDatePlaylist, false);
  assert.equal(r.cue, null);
  assert.deepEqual(r.items.map((i) => [i.title, i.location, i.durationMs]), [
    ['News One HD', 'https://stream.example.org/live/news1/index.m3u8', -1],
    ['News Two', 'https://stream.example.org/live/news2/index.m3u8', -1],
    ['Late Night', 'http://radio.example.org:8000/jazz.aac', -1],
    ['Film Club - Opening', '/media/films/opening.mkv', 180000],
    ['', '/media/films/intermission.mp3', -1],
  ]);
  assert.deepEqual(r.items[0].attrs, {
    'tvg-id': 'news.one', 'tvg-name': 'News One', 'tvg-logo': 'https://img.example.org/news1.png', 'group-title': 'News',
  });
  assert.deepEqual(r.items[4].attrs, {});
  assert.equal(r.items[2].attr('GROUP-TITLE'), 'Music');
  assert.equal(r.items[3].attr('group-title'), undefined);
  assert.deepEqual(r.warnings, ['m3u: ignored tag', 'm3u: ignored tag', 'm3u: bare path accepted']);

  assert.equal(r.encoding, 'UTF-8');
  assert.equal(JSON.stringify(r), kavlo.parseToJson(fs.readFileSync(example('iptv.m3u'))),
    'JSON.stringify writes the library document');
});

test('IMDb date playlist: release dates and the flag', () => {
  const r = kavlo.parseFile(example('imdb.m3u'));
  assert.equal(r.imdbDatePlaylist, true);
  assert.deepEqual(r.items.map((i) => i.releaseDate), [19540429, 19680402, 19820625]);
  assert.equal(r.items[1].attrs['tvg-logo'], 'posters/2001.jpg');
  assert.equal(kavlo.parse('#EXTM3U\n#EXTINF:5,A\n/a\n').items[0].releaseDate, 0);
});

test('streaming list with ASCII and full-width commas', () => {
  const r = kavlo.parseFile(example('radio.txt'));
  assert.equal(r.format, 'streaming-list');
  assert.deepEqual(r.items.slice(0, 3).map((i) => [i.title, i.location]), [
    ['Jazz Radio', 'http://192.0.2.10:8000/jazz'],
    ['新闻广播', 'http://192.0.2.11/news.aac'],
    ['City Cam', 'rtsp://192.0.2.12:554/stream1'],
  ]);
});

test('CUE sheet: sheet fields, tracks, indices in frames and milliseconds', () => {
  const r = kavlo.parseFile(example('album.cue'));
  assert.equal(r.format, 'cue');
  assert.equal(r.cue.title, 'Night Set');
  assert.equal(r.cue.performer, 'The Quartet');
  assert.equal(r.cue.catalog, '0724385263021');
  assert.equal(r.cue.songwriter, null);
  assert.deepEqual(r.cue.tracks.map((t) => t.number), [1, 2, 3]);
  const [first, second, third] = r.cue.tracks;
  assert.equal(first.isrc, 'USRC16100001');
  assert.equal(first.datatype, 'AUDIO');
  assert.equal(second.flags, 'DCP');
  assert.equal(third.performer, null);
  assert.equal(third.file, 'Night Set - side b.flac');
  assert.deepEqual(second.indices, [{ number: 0, frames: 17870, ms: 238266 }, { number: 1, frames: 18000, ms: 240000 }]);
  assert.equal(r.items.length, 3);
  assert.equal(JSON.parse(kavlo.parseToJson(fs.readFileSync(example('album.cue')))).cue.tracks[1].indices[0].ms, 238266);
});

test('format option in any letter case, and detect()', () => {
  for (const format of ['cue', 'CUE', 'Cue', 3]) assert.equal(kavlo.parse('TITLE x\n', { format }).cue.title, 'x');
  assert.equal(kavlo.parse('#extm3u\n/a\n', { format: 'M3U' }).items[0].location, '/a');
  assert.equal(kavlo.parse('a,http://x/\n', { format: 'streaming-list' }).items[0].title, 'a');
  const cases = [
    ['#EXTM3U\n/a\n', 'm3u'],
    ['#EXTM3U\n#EXT-X-TARGETDURATION:4\n', 'm3u8-hls'],
    ['cam,rtsp://x/\n', 'streaming-list'],
    ['FILE "a.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n', 'cue'],
    ['', 'unknown'],
  ];
  for (const [text, format] of cases) {
    assert.equal(kavlo.detect(text), format, text);
    assert.equal(kavlo.detect(Buffer.from(text)), format, text);
  }
});

test('input as Buffer, Uint8Array view, ArrayBuffer and string gives one result', () => {
  const text = '#EXTM3U\n#EXTINF:3 a="1",Été\n/b\n';
  const padded = Buffer.from(`xx${text}yy`);
  const inputs = [
    text,
    Buffer.from(text),
    new Uint8Array(padded.buffer, padded.byteOffset + 2, padded.length - 4),
    new Uint8Array(Buffer.from(text)).buffer,
  ];
  const expected = JSON.stringify(kavlo.parse(text));
  for (const input of inputs) assert.equal(JSON.stringify(kavlo.parse(input)), expected);
  assert.equal(kavlo.parse(new DataView(padded.buffer, padded.byteOffset + 2, padded.length - 4)).items[0].title, 'Été');
  assert.throws(() => kavlo.parse(42), TypeError);
  assert.throws(() => kavlo.parse(null), TypeError);
  assert.equal(kavlo.parse(new Uint16Array(new Uint8Array(Buffer.from('a,http://x/\n')).buffer)).items[0].title, 'a');
});

test('encodings: UTF-16 with BOM, GBK fallback, named encodings', () => {
  const sheet = kavlo.parseFile(example('sheet-utf16.cue'));
  assert.deepEqual(sheet.items.map((i) => [i.title, i.location]).slice(0, 2), [
    ['Allegro', 'música.wav'], ['Andante', 'música.wav'],
  ]);
  const be = Buffer.concat([Buffer.from([0xfe, 0xff]), Buffer.from('a,http://x/é\n', 'utf16le').swap16()]);
  assert.equal(kavlo.parse(be).items[0].location, 'http://x/é');

  const gbk = fs.readFileSync(example('stations-gbk.txt'));
  const fallback = kavlo.parse(gbk, { encoding: '' });
  assert.equal(fallback.items[0].title, '中央一台');
  assert.deepEqual(fallback.warnings, ['encoding: GBK fallback']);
  assert.equal(kavlo.parse(gbk).items[0].title, '中央一台');
  const named = kavlo.parse(gbk, { encoding: 'gbk' });
  assert.equal(named.items[0].title, '中央一台');
  assert.deepEqual(named.warnings, []);

  const cp1252 = kavlo.parseFile(example('chansons-cp1252.m3u'), { encoding: 'windows-1252' });
  assert.equal(cp1252.items[0].title, 'Édith Piaf - La Vie en rose');
  assert.deepEqual(cp1252.warnings, []);
  assert.throws(() => kavlo.parse(gbk, { encoding: 'no-such-encoding' }),
    { name: 'KavloError', status: kavlo.Status.ERR_DECODE, message: 'iconv no-such-encoding fail' });
  assert.throws(() => kavlo.parse('x', { encoding: 7 }), TypeError);
});

test('failures throw KavloError with the status and the library message', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-node-'));
  try {
    const cases = [
      [() => kavlo.parse('#EXTM3U\n#EXT-X-ENDLIST\n'), kavlo.Status.ERR_FORMAT,
        'HLS manifest detected; not parsed as playlist items'],
      [() => kavlo.parse('/a\n', { format: 'm3u' }), kavlo.Status.ERR_FORMAT, 'Not a valid M3U file. Missing header.'],
      [() => kavlo.parse(Buffer.from([0xff, 0xfe, 0x41])), kavlo.Status.ERR_DECODE, 'utf16le fail'],
      [() => kavlo.parseFile(path.join(dir, 'missing.m3u')), kavlo.Status.ERR_IO, 'io: No such file or directory'],
      [() => kavlo.parseFile(dir), kavlo.Status.ERR_IO, 'io: Is a directory'],
    ];
    for (const [call, status, message] of cases) {
      assert.throws(call, (e) => {
        assert.ok(e instanceof kavlo.KavloError);
        assert.ok(e instanceof Error);
        assert.deepEqual([e.status, e.message], [status, message]);
        return true;
      });
    }
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
});

test('bad options throw TypeError or RangeError before any parse', () => {
  const cases = [
    [() => kavlo.parse('/a\n', { format: 'm3u9' }), RangeError, /unknown playlist format "m3u9"/],
    [() => kavlo.parse('/a\n', { format: 'constructor' }), RangeError, /unknown playlist format/],
    [() => kavlo.parse('/a\n', { format: 9 }), RangeError, /-1 to 3/],
    [() => kavlo.parse('/a\n', { format: 1.5 }), RangeError, /-1 to 3/],
    [() => kavlo.parse('/a\n', { format: true }), TypeError, /format must be a string/],
    [() => kavlo.parse(Buffer.from('/a\n'), { encoding: 7 }), TypeError, /encoding must be a string/],
    [() => kavlo.parse(Buffer.from('/a\n'), { encoding: 'gbk\0' }), RangeError, /NUL/],
    [() => kavlo.parse('text', { encoding: 'gbk' }), TypeError, /decoded text already/],
    [() => kavlo.parse('text', { encoding: 'auto' }), TypeError, /decoded text already/],
    [() => kavlo.parse('/a\n', 'm3u'), TypeError, /options must be an object/],
    [() => kavlo.parseFile(42), TypeError, /path must be a string, a Buffer or a file: URL/],
    [() => kavlo.parseFile('a\0b'), TypeError, /NUL/],
    [() => kavlo.parseFile(example('iptv.m3u'), { format: 'm3uu' }), RangeError, /unknown playlist format/],
  ];
  for (const [call, type, message] of cases) assert.throws(call, (e) => e instanceof type && message.test(e.message));
});

test('parseFile: the format option, and paths as string, Buffer and file: URL', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-node-'));
  try {
    const sheet = path.join(dir, 'lower.cue');
    fs.writeFileSync(sheet, 'file "a.wav" wave\ntrack 01 audio\n');
    assert.throws(() => kavlo.parseFile(sheet), { status: kavlo.Status.ERR_FORMAT });
    for (const p of [sheet, Buffer.from(sheet), pathToFileURL(sheet)]) {
      assert.deepEqual(kavlo.parseFile(p, { format: 'cue' }).items.map((i) => i.location), ['a.wav']);
      assert.equal((await kavlo.parseFileAsync(p, { format: 'CUE' })).cue.tracks.length, 1);
    }
    // A name that is not UTF-8, as fs takes it in a Buffer.
    const latin1 = Buffer.concat([Buffer.from(`${dir}/caf`), Buffer.from([0xe9]), Buffer.from('.txt')]);
    fs.writeFileSync(latin1, 'a,http://x/\n');
    assert.equal(kavlo.parseFile(latin1).items[0].title, 'a');
    assert.throws(() => kavlo.parseFile(new URL('http://example.org/a.m3u')), TypeError);
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
});

test('results are independent of later parses', () => {
  const first = kavlo.parseFile(example('imdb.m3u'));
  const copy = JSON.stringify(first);
  const second = kavlo.parseFile(example('album.cue'));
  kavlo.detect(fs.readFileSync(example('stations-gbk.txt')));
  assert.throws(() => kavlo.parse('#EXTM3U\n#EXT-X-ENDLIST\n'));
  assert.equal(first.items[2].title, 'tt0083658');
  assert.equal(JSON.stringify(first), copy);
  assert.equal(second.cue.tracks[2].number, 3);
});

test('attributes: first of repeated keys wins; __proto__ stays an own property', () => {
  const r = kavlo.parse('#EXTM3U\n#EXTINF:-1 __proto__="p" constructor="c" a="1" a="2",T\n/x\n');
  const { attrs } = r.items[0];
  assert.equal(Object.getPrototypeOf(attrs), Object.prototype);
  assert.deepEqual(Object.keys(attrs), ['__proto__', 'constructor', 'a']);
  assert.equal(attrs.a, '1');
  assert.equal(Object.getOwnPropertyDescriptor(attrs, '__proto__').value, 'p');
});

test('attributes: objects of shared and differing key orders match the document', () => {
  const lines = ['#EXTM3U'];
  const attrLines = [
    'tvg-id="a" group-title="G"', 'tvg-id="b" group-title="G"', 'group-title="G" tvg-id="c"', '',
    '2="two" 1="one" x="y"', 'k"q="1" b\\s="2" }="3"', 'tvg-id="d" tvg-id="e" group-title="H"',
    Array.from({ length: 40 }, (_, j) => `m${j}="${j}"`).join(' '),
  ];
  // Many distinct key orders.
  for (let j = 0; j < 300; ++j) attrLines.push(`only${j}="${j}"`);
  attrLines.forEach((a, j) => lines.push(`#EXTINF:-1 ${a},T${j}`, `http://x/${j}`));
  const r = kavlo.parse(lines.join('\n') + '\n');
  const doc = JSON.parse(kavlo.parseToJson(Buffer.from(lines.join('\n') + '\n'))).items;
  assert.equal(r.items.length, attrLines.length);
  r.items.forEach((item, j) => {
    assert.equal(Object.getPrototypeOf(item.attrs), Object.prototype);
    if (j === 6) assert.equal(JSON.stringify(item.attrs), '{"tvg-id":"d","group-title":"H"}');
    else assert.equal(JSON.stringify(item.attrs), JSON.stringify(doc[j].attrs ?? {}), attrLines[j]);
  });
});

test('IPTV view and members derived from the attributes', () => {
  const r = kavlo.parse('#EXTM3U\n' +
    '#EXTINF:-1 tvg-id="n1" tvg-name="News" tvg-logo="l.png" tvg-shift="2" group-title="News" ' +
    'catchup="append" catchup-days="7" user-agent="UA",News HD\nhttp://x/1\n' +
    '#EXTINF:-1,Bare\nhttp://x/2\n');
  const [full, bare] = r.items;
  assert.deepEqual(full.tvg, { id: 'n1', name: 'News', logo: 'l.png', url: '', rec: '', shift: '2', language: '', country: '' });
  assert.equal(full.groupTitle, 'News');
  assert.equal(full.http['user-agent'], 'UA');
  assert.deepEqual(full.catchup, { mode: 'append', days: '7', shift: '2' });
  assert.equal(bare.catchup, undefined);
  assert.equal(bare.tvg.id, '');
  assert.equal(bare.groupTitle, '');
  assert.equal(bare.group, undefined);
  assert.ok(!Object.keys(full).includes('tvg'), 'the view is not part of the item data');
});

test('large results: strings across chunks, ASCII and not, repeated and not', () => {
  // About 3 MB of strings: several chunks, some pure ASCII, some not,
  // characters outside the BMP, and short strings that repeat (sent once).
  const lines = ['#EXTM3U'];
  const expected = [];
  for (let i = 0; i < 40000; ++i) {
    const title = i < 20000 ? `Channel ${i % 900}` : i % 3 ? `Chaîne ${i} 😀` : `Kanal ${i % 5}`;
    const group = i % 11 ? `Group ${i % 7}` : `Gruppe ${'ü'.repeat(i % 4)}`;
    const location = `http://example.org/live/${i}/${'p'.repeat(i % 50)}.ts`;
    lines.push(`#EXTINF:-1 tvg-id="id${i}" tvg-name="${title}" group-title="${group}",${title}`, location);
    expected.push([title, location, `id${i}`, title, group]);
  }
  const r = kavlo.parse(lines.join('\n'));
  assert.equal(r.items.length, expected.length);
  r.items.forEach((item, i) => {
    const { attrs } = item;
    assert.deepEqual([item.title, item.location, attrs['tvg-id'], attrs['tvg-name'], attrs['group-title']], expected[i]);
  });
});

test('the README example runs', () => {
  const { execFileSync } = require('node:child_process');
  // The example loads the package by name, as an installed one.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-node-'));
  try {
    fs.mkdirSync(path.join(dir, 'node_modules'));
    fs.symlinkSync(path.resolve(__dirname, '..'), path.join(dir, 'node_modules', 'kavlo'));
    const out = execFileSync(process.execPath, [path.join(__dirname, '..', 'examples', 'channels.js'), example('iptv.m3u')],
      { env: { ...process.env, NODE_PATH: path.join(dir, 'node_modules') }, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
    assert.equal(out.split('\n')[0], 'News\tNews One HD\thttps://stream.example.org/live/news1/index.m3u8');
    assert.equal(out.split('\n')[2], 'Music\tLate Night\thttp://radio.example.org:8000/jazz.aac');
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
});
