'use strict';
// parseAsync/parseFileAsync: off the main thread, each call with its own
// result, failures as rejections.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

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
  // A synchronous parse in between.
  const sync = kavlo.parse('x,http://sync/\n');
  const results = await Promise.all(calls);
  names.forEach((n, i) => {
    const r = results[i];
    assert.equal(r.items.length, 2000 + i);
    assert.ok(r.items.every((item, j) => item.title === `${n} ${j}` && item.durationMs === j * 1000));
  });
  assert.equal(results[names.length].cue.tracks[1].title, 'Blue Hour');
  assert.equal(results[names.length + 1].items[0].title, '中央一台');
  assert.equal(sync.items[0].location, 'http://sync/');
});

test('a parse waits for no other: one blocked on a pipe lets the others finish', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavlo-async-'));
  try {
    const fifo = path.join(dir, 'fifo');
    execFileSync('mkfifo', [fifo]);
    // A writer holds the pipe open, so the parse reads until it closes.
    const writer = fs.openSync(fifo, 'r+');
    let blockedDone = false;
    const blocked = kavlo.parseFileAsync(fifo, { format: 'streaming-list' }).then((r) => { blockedDone = true; return r; });
    const others = await Promise.all([kavlo.parseAsync(Buffer.from(m3u('p', 500))), kavlo.parseAsync(m3u('q', 700))]);
    assert.deepEqual(others.map((r) => r.items.length), [500, 700]);
    assert.equal(blockedDone, false);
    fs.writeSync(writer, 'late,http://198.51.100.7/\n');
    fs.closeSync(writer);
    assert.equal((await blocked).items[0].title, 'late');
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('failures reject with KavloError', async () => {
  await assert.rejects(kavlo.parseAsync('#EXTM3U\n#EXT-X-ENDLIST\n'),
    { name: 'KavloError', status: kavlo.Status.ERR_FORMAT });
  await assert.rejects(kavlo.parseFileAsync(path.join(examples, 'no-such-file.m3u')),
    { name: 'KavloError', status: kavlo.Status.ERR_IO, message: 'io: No such file or directory' });
  await assert.rejects(kavlo.parseAsync('a', { format: 'nope' }), RangeError);
  await assert.rejects(kavlo.parseAsync({}), TypeError);
});
