'use strict';
// parseAsync/parseFileAsync: off the main thread, each call with its own
// result, failures as rejections.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const kavlo = require('..');

const examples = path.resolve(__dirname, '..', '..', 'examples');

function m3u(prefix, count) {
  const lines = ['#EXTM3U'];
  for (let i = 0; i < count; ++i) {
    lines.push(`#EXTINF:${i} tvg-id="${prefix}.${i}" group-title="${prefix}",${prefix} ${i}`);
    lines.push(`http://${prefix}.example.org/${i}.ts`);
  }
  return lines.join('\n') + '\n';
}

test('the event loop turns while parseAsync works', async () => {
  // A list of some megabytes: parsing it takes far longer than reaching the
  // check phase of the loop, where the immediate runs.
  const big = Buffer.from(m3u('big', 60000));
  let immediateRan = false;
  const pending = kavlo.parseAsync(big);
  setImmediate(() => { immediateRan = true; });
  let settledFirst = false;
  const r = await pending.then((v) => { settledFirst = !immediateRan; return v; });
  assert.equal(settledFirst, false, 'the promise settled before the immediate ran');
  assert.equal(r.items.length, 60000);
  assert.equal(r.items[59999].attrs['tvg-id'], 'big.59999');
});

test('concurrent calls each get their own result', async () => {
  const names = ['a', 'b', 'c', 'd', 'e', 'f'];
  const calls = names.map((n, i) => kavlo.parseAsync(i % 2 ? m3u(n, 2000 + i) : Buffer.from(m3u(n, 2000 + i))));
  calls.push(kavlo.parseFileAsync(path.join(examples, 'album.cue')));
  calls.push(kavlo.parseFileAsync(path.join(examples, 'stations-gbk.txt'), { encoding: 'gbk' }));
  // A synchronous parse in between waits for the library and is correct too.
  const sync = kavlo.parse('x,http://sync/\n');
  const results = await Promise.all(calls);
  names.forEach((n, i) => {
    const r = results[i];
    assert.equal(r.items.length, 2000 + i);
    assert.ok(r.items.every((item, j) => item.title === `${n} ${j}` && item.durationMs === j * 1000));
    assert.equal(JSON.parse(r.json).item_count, 2000 + i);
  });
  assert.equal(results[names.length].cue.tracks[1].title, 'Blue Hour');
  assert.equal(results[names.length + 1].items[0].title, '中央一台');
  assert.equal(sync.items[0].location, 'http://sync/');
});

test('failures reject with KavloError', async () => {
  await assert.rejects(kavlo.parseAsync('#EXTM3U\n#EXT-X-ENDLIST\n'),
    { name: 'KavloError', status: kavlo.Status.ERR_FORMAT });
  await assert.rejects(kavlo.parseFileAsync(path.join(examples, 'no-such-file.m3u')),
    { name: 'KavloError', status: kavlo.Status.ERR_IO, message: 'io: No such file or directory' });
  await assert.rejects(kavlo.parseAsync('a', { format: 'nope' }), { name: 'KavloError', status: kavlo.Status.ERR_FORMAT });
  await assert.rejects(kavlo.parseAsync({}), TypeError);
});
