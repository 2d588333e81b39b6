// The package's interface: inputs of every kind, options, errors,
// detection, results that outlive later parses, a memory that grows for a
// 64 MB list, and the size of the module.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, statSync } from 'node:fs';
import { gzipSync } from 'node:zlib';

import * as kavlo from '../index.js';

const m3u = '#EXTM3U\n#EXTINF:-1 tvg-logo="l.png" group-title="News",Café ☕ 𝄞\nhttp://x/1\n#EXTINF:5,Two\nhttp://x/2\n';
const bytes = new TextEncoder().encode(m3u);
const titles = (r) => r.items.map((i) => i.title);

test('every kind of input gives the same result', () => {
  const padded = new Uint8Array(bytes.length + 7);
  padded.set(bytes, 3);
  const inputs = {
    string: m3u,
    Buffer: Buffer.from(m3u),
    Uint8Array: bytes,
    'Uint8Array at an offset': padded.subarray(3, 3 + bytes.length),
    ArrayBuffer: bytes.slice().buffer,
    DataView: new DataView(padded.buffer, 3, bytes.length),
    Int8Array: new Int8Array(bytes.slice().buffer),
  };
  for (const [kind, input] of Object.entries(inputs)) {
    const r = kavlo.parse(input);
    assert.deepEqual(titles(r), ['Café ☕ 𝄞', 'Two'], kind);
    assert.equal(r.items[0].tvg.logo, 'l.png', kind);
    assert.equal(r.items[0].groupTitle, 'News', kind);
    assert.equal(r.items[1].durationMs, 5000, kind);
  }
  assert.equal(kavlo.parse(new Uint8Array(0), { format: 'streaming-list' }).items.length, 0);
  for (const bad of [42, null, undefined, new Uint16Array(4), {}]) {
    assert.throws(() => kavlo.parse(bad), TypeError, String(bad));
  }
});

test('strings are encoded whole whatever their characters', () => {
  // ASCII first, so that the encoder runs out of the room it took for
  // ASCII and the rest goes into a larger block; a lone surrogate becomes
  // U+FFFD as TextEncoder makes it.
  const long = 'a'.repeat(5000);
  const text = `#EXTM3U\n#EXTINF:1,${long}\nhttp://x/1\n#EXTINF:2,ÄÖÜ 日本 🎵 \uD800!\nhttp://x/2\n`;
  const r = kavlo.parse(text);
  assert.deepEqual(titles(r), [long, 'ÄÖÜ 日本 🎵 \uFFFD!']);
  assert.equal(r.encoding, 'UTF-8');
});

test('options are checked as the Node.js package checks them', () => {
  assert.throws(() => kavlo.parse(m3u, { encoding: 'gbk' }), TypeError);
  assert.throws(() => kavlo.parse(bytes, { format: 'pls' }), RangeError);
  assert.throws(() => kavlo.parse(bytes, { format: 7 }), RangeError);
  assert.throws(() => kavlo.parse(bytes, 'm3u'), TypeError);
  assert.equal(kavlo.parse(bytes, { format: 'M3U' }).format, 'm3u');
  // A named encoding, the library's chain, and "auto" (the default).
  const cp1252 = Uint8Array.from([...Buffer.from('caf'), 0xe9, ...Buffer.from(',http://x/\n')]);
  assert.equal(kavlo.parse(cp1252, { encoding: 'latin1' }).items[0].title, 'café');
  const chain = kavlo.parse(cp1252, { encoding: '' });
  assert.equal(chain.encoding, 'CP1252');
  assert.deepEqual(chain.warnings, ['encoding: CP1252 fallback']);
  assert.equal(kavlo.parse(cp1252).items[0].title, 'café');
});

test('a failed parse throws KavloError with the status and the message', () => {
  const cases = [
    ['#EXTM3U\n#EXT-X-TARGETDURATION:10\n', {}, 3, 'ERR_FORMAT', 'HLS manifest detected; not parsed as playlist items'],
    ['no playlist here\n', {}, 3, 'ERR_FORMAT', 'unknown playlist format'],
    [Uint8Array.of(0xff, 0x2c, 0x41), { encoding: 'utf-16le' }, 1, 'ERR_DECODE', 'iconv UTF-16LE fail'],
  ];
  for (const [input, options, status, code, message] of cases) {
    assert.throws(() => kavlo.parse(input, options), (e) => {
      assert.ok(e instanceof kavlo.KavloError && e instanceof Error);
      assert.deepEqual([e.status, e.code, e.message], [status, code, message]);
      return true;
    });
  }
  assert.throws(() => kavlo.parseToJson('nothing\n'), kavlo.KavloError);
});

test('detect names the format without parsing', () => {
  assert.equal(kavlo.detect('#EXTM3U\n#EXTINF:1,a\nb\n'), 'm3u');
  assert.equal(kavlo.detect('#EXTM3U\n#EXT-X-TARGETDURATION:10\n'), 'm3u8-hls');
  assert.equal(kavlo.detect(Buffer.from('News,http://x/\n')), 'streaming-list');
  assert.equal(kavlo.detect(readFileSync(new URL('../../examples/album.cue', import.meta.url))), 'cue');
  assert.equal(kavlo.detect('plain words'), 'unknown');
  assert.equal(kavlo.detect(Uint8Array.of(0xff, 0xfe, 0x41)), 'unknown');
});

test('a result stays as it was after later parses and a release', () => {
  const first = kavlo.parse(m3u);
  const json = JSON.stringify(first);
  kavlo.parse('#EXTM3U\n#EXTINF:1,Other\nhttp://y/\n');
  kavlo.release();
  assert.equal(JSON.stringify(first), json);
  assert.deepEqual(titles(kavlo.parse(m3u)), titles(first));
  assert.equal(first.toJSON().version, kavlo.version);
  assert.match(kavlo.version, /^\d+\.\d+\.\d+$/);
});

test('a 64 MB list parses: the memory grows as needed', () => {
  // Entries of about 200 bytes, every 1000th with a title that is not
  // ASCII, so that string chunks of both kinds are made.
  const entry = (i) => `#EXTINF:-1 tvg-id="c${i}" tvg-logo="https://img.example.org/${i}.png" ` +
    `group-title="Group ${i % 17}",${i % 1000 ? `Channel ${i}` : `Chaîne ${i} 📺`}\n` +
    `http://stream.example.org:8080/live/user/pass/${i}.ts\n`;
  const parts = ['#EXTM3U\n'];
  let size = 0;
  let n = 0;
  while (size < 64e6) {
    const e = entry(n++);
    parts.push(e);
    size += e.length;
  }
  const text = parts.join('');
  const r = kavlo.parse(Buffer.from(text));
  assert.equal(r.items.length, n);
  for (const i of [0, 1, 999, 1000, 123457, n - 1]) {
    const item = r.items[i];
    assert.equal(item.title, i % 1000 ? `Channel ${i}` : `Chaîne ${i} 📺`);
    assert.equal(item.location, `http://stream.example.org:8080/live/user/pass/${i}.ts`);
    assert.equal(item.groupTitle, `Group ${i % 17}`);
    assert.equal(item.line, 2 * i + 3);
  }
  // The views of the grown memory are the ones read afterwards.
  assert.deepEqual(titles(kavlo.parse(m3u)), ['Café ☕ 𝄞', 'Two']);
  kavlo.release();
});

test('the module is at most 600 KB', () => {
  const file = new URL('../dist/kavlo-core.wasm', import.meta.url);
  const size = statSync(file).size;
  const gzipped = gzipSync(readFileSync(file), { level: 9 }).length;
  assert.ok(size <= 600_000, `kavlo-core.wasm is ${size} bytes`);
  console.log(`kavlo-core.wasm: ${size} bytes, ${gzipped} gzipped`);
});

test('the example of the README counts the entries per group', () => {
  const run = (file) => execFileSync(process.execPath, [new URL('../examples/groups.mjs', import.meta.url).pathname,
    new URL(`../../examples/${file}`, import.meta.url).pathname], { encoding: 'utf8' });
  assert.equal(run('iptv.m3u'), 'News\t2\nMusic\t1\n-\t2\n5 entries, read as UTF-8\n');
  assert.equal(run('stations-gbk.txt'), '-\t3\n3 entries, read as GBK\n');
});

test('writing: a result after other parses, with its input changed; lists of plain objects', () => {
  const input = new TextEncoder().encode('#EXTM3U\n#PLAYLIST:Mix\n#EXTINF:10 group-title="G",One\nhttp://x/1\n');
  const r = kavlo.parse(input);
  input.fill(0x20);  // the caller's bytes change; the result does not
  kavlo.parse('Other,http://o/\n');
  const text = '#EXTM3U\n#PLAYLIST:Mix\n#EXTINF:10 group-title="G",One\nhttp://x/1\n';
  assert.equal(r.toM3U(), text);
  assert.equal(r.toText({ format: 'txt', bom: true, crlf: true }), '\uFEFFG,#genre#\r\nOne,http://x/1\r\n');
  assert.deepEqual(r.toText({ bytes: true }), new TextEncoder().encode(text));
  assert.throws(() => r.toText({ format: 'cue' }), (e) => e instanceof kavlo.KavloError && e.code === 'ERR_FORMAT');

  const items = [{ location: 'http://x/1', title: 'T', durationMs: 5000, attrs: [['tvg-name', 'say"cheese"']],
    group: 'News', options: [{ tag: 'EXTVLCOPT', key: 'http-referrer', value: 'http://r/' }] }];
  assert.equal(kavlo.write(items, { header: { 'x-tvg-url': 'http://e/' } }),
    '#EXTM3U x-tvg-url="http://e/"\n#EXTVLCOPT:http-referrer=http://r/\n' +
    '#EXTINF:5 tvg-name=say"cheese" group-title="News",T\nhttp://x/1\n');
  assert.equal(kavlo.write(items, { format: 'streaming-list' }), 'News,#genre#\nT,http://x/1\n');
  assert.throws(() => kavlo.write([{ location: 'http://x/', attrs: { 'a b': '1' } }]),
    (e) => e instanceof kavlo.KavloError && e.status === kavlo.Status.ERR_INVALID && e.message.startsWith('items[0]: attribute "a b"'));
  assert.throws(() => kavlo.write([{ location: 'http://x/', durationMs: 0.5 }]), RangeError);
  // The same strings after many writes: the module's blocks are reused.
  for (let n = 0; n < 50; ++n) kavlo.write(items);
  assert.deepEqual(kavlo.parse(kavlo.write(r.items)).items.map((i) => [i.title, i.attrs]), [['One', { 'group-title': 'G' }]]);
});
