'use strict';
// The items against iptv-playlist-parser (npm), for code that moves from
// it: the same entries, URLs, referrers and user agents (the request
// headers), tvg ids, logos and groups. Skipped when that package is not installed (make bench-peers
// installs it under bench/peers).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const kavlo = require('..');

const root = path.resolve(__dirname, '..', '..');
let peer = null;
try {
  peer = require(path.join(root, 'bench', 'peers', 'node_modules', 'iptv-playlist-parser'));
} catch {
  // not installed
}

const lists = [path.join(root, 'tests', 'peer', 'iptv-options.m3u')];

for (const list of lists) {
  test(`the items agree with iptv-playlist-parser on ${path.basename(list)}`,
    { skip: peer ? false : 'iptv-playlist-parser is not installed (make bench-peers installs it)' }, () => {
      const mine = kavlo.parseFile(list).items;
      const theirs = peer.parse(fs.readFileSync(list, 'utf8')).items;
      assert.equal(mine.length, theirs.length);
      let withHttp = 0;
      mine.forEach((item, i) => {
        const other = theirs[i];
        const at = `entry ${i + 1}`;
        assert.equal(item.location, other.url, at);
        const http = item.http ?? {};
        assert.deepEqual({ referrer: http.referer ?? '', 'user-agent': http['user-agent'] ?? '' }, other.http, at);
        assert.deepEqual([item.tvg.id, item.tvg.logo, item.groupTitle], [other.tvg.id, other.tvg.logo, other.group.title], at);
        if (http.referer || http['user-agent']) ++withHttp;
      });
      assert.ok(withHttp > 0, 'no entry has a referrer or user agent');
    });
}
