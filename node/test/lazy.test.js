'use strict';
// Entries and tracks read their members from the parse when first asked
// for: in any order, by several readers, across the string chunks, and
// they may be set before or after.
const test = require('node:test');
const assert = require('node:assert/strict');
const util = require('node:util');

const kavlo = require('..');

// A list of some 1.5 MB of strings (more than one chunk), with short values
// that repeat (groups, logos), non-ASCII titles, options, location headers
// and #EXTGRP: groups on some entries.
function bigList(n) {
  const lines = ['#EXTM3U x-tvg-url="http://epg/g.xml" catchup="shift"'];
  for (let i = 0; i < n; ++i) {
    const group = ['News', 'Кино', 'Sport'][i % 3];
    lines.push(`#EXTINF:-1 tvg-id="id${i}" tvg-logo="l${i % 7}" group-title="${group}",Канал ${i} ${'x'.repeat(i % 40)}`);
    if (i % 5 === 0) lines.push(`#EXTVLCOPT:http-user-agent=UA/${i % 2}`);
    if (i % 11 === 0) lines.push(`#EXTGRP:G${i % 4};H`);
    lines.push(`http://s/${i}.ts${i % 9 === 0 ? `|Referer=http://r/${i % 3}` : ''}`);
  }
  return lines.join('\n') + '\n';
}

const text = bigList(12000);
const inOrder = JSON.stringify(kavlo.parse(text));

test('entries read backwards, members before or after location and title, give the document', () => {
  assert.deepEqual(JSON.parse(inOrder), JSON.parse(kavlo.parseToJson(text)));
  const r = kavlo.parse(text);
  for (let i = r.items.length - 1; i >= 0; --i) {
    const item = r.items[i];
    if (i % 2) assert.equal(typeof item.attrs, 'object');
    assert.equal(typeof item.title, 'string');
    if (i % 3 === 0) assert.equal(typeof item.location, 'string');
  }
  assert.equal(JSON.stringify(r), inOrder);
});

test('entries read in a scattered order, repeats before their first', () => {
  const r = kavlo.parse(Buffer.from(text));
  const n = r.items.length;
  const seen = [];
  for (let k = 0, i = 0; k < n; ++k, i = (i + 7919) % n) seen[i] = JSON.stringify(r.items[i]);
  const expected = JSON.parse(inOrder).items;
  for (const i of [0, 1, 4, 11, 99, 5000, n - 1]) {
    const doc = expected[i];
    const mine = JSON.parse(seen[i]);
    assert.deepEqual([mine.title, mine.location, mine.attrs, mine.http], [doc.title, doc.location, doc.attrs, doc.http]);
  }
  assert.equal(JSON.stringify(r), inOrder);
});

test('async results read the same', async () => {
  const r = await kavlo.parseAsync(text);
  assert.equal(r.items[7000].attrs['group-title'], 'Кино');
  assert.equal(JSON.stringify(r), inOrder);
});

test('members set before and after they are read, and on entries made by hand', () => {
  const r = kavlo.parse('#EXTM3U\n#EXTINF:-1 a="1",One\nhttp://x/1|Referer=r\n#EXTINF:-1,Two\nhttp://x/2\n');
  const [one, two] = r.items;
  one.title = 'Uno';
  one.attrs = { b: '2' };
  assert.equal(one.location, 'http://x/1|Referer=r');
  assert.deepEqual(one.headers, { Referer: 'r' });
  two.attrs.c = '3';
  two.group = 'G';
  two.location = 'http://y/2';
  assert.deepEqual(one.toJSON(), { location: 'http://x/1|Referer=r', title: 'Uno', durationMs: -1, releaseDate: 0,
    attrs: { b: '2' }, line: 3, url: 'http://x/1', headers: { Referer: 'r' }, http: { referer: 'r' } });
  assert.deepEqual(two.toJSON(), { location: 'http://y/2', title: 'Two', durationMs: -1, releaseDate: 0,
    attrs: { c: '3' }, line: 5, group: 'G' });
  assert.equal(kavlo.write([two]), '#EXTM3U\n#EXTINF:-1 c="3" group-title="G",Two\nhttp://y/2\n');

  const made = new kavlo.Item('http://z/', 'Z', 5000, 0, { k: 'v' }, 0);
  assert.deepEqual(made.toJSON(), { location: 'http://z/', title: 'Z', durationMs: 5000, releaseDate: 0,
    attrs: { k: 'v' }, line: 0 });
  assert.equal(made.url, undefined);
  assert.match(util.inspect(r.items[1]), /location: 'http:\/\/y\/2'/);
});

test('tracks read backwards give the document', () => {
  const sheet = ['PERFORMER "P"', 'FILE "a.wav" WAVE'];
  for (let t = 1; t <= 99; ++t) {
    sheet.push(`  TRACK ${String(t).padStart(2, '0')} AUDIO`, `    TITLE "Трек ${t}"`);
    if (t % 4 === 0) sheet.push(`    REM COMPOSER "C${t % 3}"`, '    PREGAP 00:00:10');
    sheet.push(`    INDEX 01 ${String(t).padStart(2, '0')}:00:00`);
  }
  const cue = sheet.join('\n') + '\n';
  const expected = JSON.stringify(kavlo.parse(cue));
  const r = kavlo.parse(cue);
  for (let t = r.cue.tracks.length - 1; t >= 0; --t) assert.equal(r.cue.tracks[t].number, t + 1);
  assert.deepEqual(r.cue.tracks[3].toJSON(), { number: 4, title: 'Трек 4', performer: null, songwriter: null,
    isrc: null, file: 'a.wav', flags: null, datatype: 'AUDIO', pregap: 10, postgap: null,
    rem: [{ key: 'COMPOSER', value: 'C1' }], indices: [{ number: 1, frames: 18000, ms: 240000 }] });
  assert.equal(JSON.stringify(r), expected);
  assert.deepEqual(JSON.parse(expected), JSON.parse(kavlo.parseToJson(cue)));
});

test('an entry kept after all of it is read keeps no more of the parse', async () => {
  const v8 = require('node:v8');
  const vm = require('node:vm');
  v8.setFlagsFromString('--expose-gc');
  const gc = vm.runInNewContext('gc');
  const settle = async () => {
    for (let i = 0; i < 4; ++i) gc(), await new Promise(setImmediate);
    return process.memoryUsage().external;
  };
  const list = bigList(100000);
  const before = await settle();
  let kept = kavlo.parse(list).items[4321];
  const copy = JSON.stringify(kept);
  const whileKept = await settle();
  assert.equal(JSON.stringify(kept), copy);
  const after = kept.title;
  kept = null;
  const released = await settle();
  assert.equal(after, `Канал 4321 ${'x'.repeat(4321 % 40)}`);
  assert.ok(whileKept - before < 4e6, `${(whileKept - before) / 1e6} MB kept for one entry`);
  assert.ok(Math.abs(released - before) < 4e6);
});
