'use strict';
// What the results take from the library's full document: line numbers,
// options, headers, streaming groups, the #EXTM3U attributes, CUE REM lines,
// gaps and track numbers; and the accessors' view when there is no document.
const test = require('node:test');
const assert = require('node:assert/strict');

const kavlo = require('..');

test('M3U: header, line numbers, options, url and headers', () => {
  const r = kavlo.parse([
    '#EXTM3U x-tvg-url="http://epg/g.xml"',
    '#EXTVLCOPT:http-referrer=http://ref/',
    '#EXTINF:-1 tvg-id="a" referrer="http://attr/",One',
    '#EXTVLCOPT:http-user-agent=VLC/3',
    '#KODIPROP:inputstream.adaptive.manifest_type=mpd',
    'http://h/1|User-Agent=UA1&Referer=http://hdr/&User-Agent=UA2',
    '#EXTINF:-1,Two',
    'http://h/2|nothing',
    '#EXTVLCOPT:dropped=1',
  ].join('\n'));
  assert.deepEqual(r.header, { 'x-tvg-url': 'http://epg/g.xml' });
  const [one, two] = r.items;
  assert.deepEqual([one.line, two.line], [6, 8]);
  assert.deepEqual(one.options, [
    { tag: 'EXTVLCOPT', key: 'http-referrer', value: 'http://ref/' },
    { tag: 'EXTVLCOPT', key: 'http-user-agent', value: 'VLC/3' },
    { tag: 'KODIPROP', key: 'inputstream.adaptive.manifest_type', value: 'mpd' },
  ]);
  assert.equal(one.url, 'http://h/1');
  assert.deepEqual(one.headers, { 'User-Agent': 'UA1', Referer: 'http://hdr/' });
  assert.equal(one.location, 'http://h/1|User-Agent=UA1&Referer=http://hdr/&User-Agent=UA2');
  // Left out when empty, as in the document.
  assert.deepEqual(Object.keys(two.toJSON()), ['location', 'title', 'durationMs', 'releaseDate', 'attrs', 'line']);
  // The request headers: the location's, then options, then attributes.
  assert.deepEqual(one.http, { 'user-agent': 'UA1', referer: 'http://hdr/' });
  const viaOptions = kavlo.parse('#EXTM3U\n#EXTINF:-1 referrer="a",T\n#EXTVLCOPT:http-referrer=o\n/x\n').items[0];
  assert.deepEqual(viaOptions.http, { referer: 'o' });
  assert.deepEqual(kavlo.parse('#EXTM3U\n#EXTINF:-1 referrer="a",T\n/x\n').items[0].http, { referer: 'a' });
  assert.equal(two.http, undefined);
  assert.equal(kavlo.parse('#EXTM3U\n/x\n').header.constructor, Object);
});

test('streaming list: groups of NAME,#genre# lines', () => {
  const r = kavlo.parse('a,http://x/0\n新闻，#genre#\nb,http://x/1\nc,http://x/2\nSport,#genre#\nd,http://x/3\n');
  assert.deepEqual(r.items.map((i) => [i.title, i.group, i.groupTitle, i.line]), [
    ['a', undefined, '', 1], ['b', '新闻', '新闻', 3], ['c', '新闻', '新闻', 4], ['d', 'Sport', 'Sport', 6],
  ]);
});

test('CUE: sheet fields, REM lines, track numbers and gaps', () => {
  const r = kavlo.parse([
    'REM GENRE "Jazz Rock"', 'REM DATE 1999', 'REM DATE 2000', 'SONGWRITER "S"', 'CDTEXTFILE "t.cdt"',
    'FILE "a.wav" WAVE',
    '  TRACK 07 AUDIO', '    REM COMPOSER "C"', '    PREGAP 00:02:00', '    INDEX 01 00:00:00', '    POSTGAP 00:00:30',
    '  TRACK 08 AUDIO', '    INDEX 01 01:00:00',
  ].join('\n'));
  const { cue } = r;
  assert.equal(cue.songwriter, 'S');
  assert.equal(cue.cdtextfile, 't.cdt');
  assert.deepEqual(cue.rem, [{ key: 'GENRE', value: 'Jazz Rock' }, { key: 'DATE', value: '1999' }, { key: 'DATE', value: '2000' }]);
  assert.deepEqual(cue.tracks.map((t) => [t.number, t.pregap, t.postgap, t.rem]), [
    [7, 150, 30, [{ key: 'COMPOSER', value: 'C' }]], [8, null, null, []],
  ]);
  assert.deepEqual(r.items.map((i) => i.line), [7, 12]);
  assert.equal(cue.tracks[1].indices[0].ms, 60000);
});

test('JSON.stringify writes the full document', () => {
  const text = '#EXTM3U x="1"\n#EXTINF:-1 a="1",T\n/x\n';
  const doc = JSON.parse(kavlo.parseToJson(text));
  assert.equal(doc.version, kavlo.version);
  assert.deepEqual(doc.header, { x: '1' });
  assert.equal(doc.items[0].line, 3);
  assert.equal(JSON.stringify(kavlo.parse(text)), kavlo.parseToJson(text));
  assert.match(kavlo.version, /^\d+\.\d+\.\d+$/);
  assert.equal(kavlo.version, require('../package.json').version);
});

test('text kept as undecodable bytes: no document, the strings with U+FFFD', () => {
  // C0 AF passes the library's UTF-8 check but is not strict UTF-8.
  const bytes = Buffer.from('#EXTM3U\n#EXTINF:5 k="v\xC0\xAF" k="w",T\xC0\xAF\n/x\n', 'latin1');
  assert.equal(kavlo.parseToJson(bytes), '{}');
  const [item] = kavlo.parse(bytes).items;
  assert.deepEqual([item.title, item.location, item.durationMs, item.attrs, item.line],
    ['T\uFFFD\uFFFD', '/x', 5000, { k: 'v\uFFFD\uFFFD' }, 3]);
  assert.equal(item.title, new TextDecoder().decode(Buffer.from('T\xC0\xAF', 'latin1')));
});

test('strings as TextDecoder reads them: well-formed, overlong, surrogate and out-of-range forms among ASCII runs', () => {
  // Byte forms the library's UTF-8 check lets through, strict or not.
  const forms = ['41', 'c3a9', 'd0af', 'e4b8ad', 'e0a080', 'ed9fbf', 'ee8080', 'efbfbd', 'f09f9880', 'f48fbfbf',
    'c0af', 'c1bf', 'e08080', 'e09fbf', 'eda080', 'edbfbf', 'f08f8080', 'f4908080', 'f5808080', 'f7bfbfbf'];
  let seed = 7;
  const next = (n) => ((seed = (Math.imul(seed, 1664525) + 1013904223) >>> 0) >>> 8) % n;
  const titles = [];
  for (let t = 0; t < 300; ++t) {
    let hex = '';
    for (let k = next(12); k >= 0; --k) {
      if (next(3) > 0) hex += forms[next(forms.length)];
      else for (let a = next(20); a > 0; --a) hex += (0x41 + next(26)).toString(16);  // letters
    }
    titles.push(Buffer.from(hex, 'hex'));
  }
  const parts = [Buffer.from('#EXTM3U\n')];
  for (const title of titles) parts.push(Buffer.from('#EXTINF:-1,'), title, Buffer.from('\n/x\n'));
  const r = kavlo.parse(Buffer.concat(parts), { encoding: '' });
  assert.equal(r.encoding, 'UTF-8');
  const decoder = new TextDecoder();
  assert.deepEqual(r.items.map((i) => i.title), titles.map((b) => decoder.decode(b)));
});
