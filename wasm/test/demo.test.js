// The demo page in headless Chromium, served by scripts/serve.mjs: the
// bundled example rendered as groups of channels with their logos, its
// warnings, encoding and parse time, a legacy-encoded file picked from
// disk, and a failing one. Skipped with a message when chromium or
// playwright-core (npm) is not installed. The screenshot of the example
// goes to KAVLO_ARTEFACTS (build-wasm/ under make test-wasm).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';

import { serve } from '../scripts/serve.mjs';

const chromiumPath = process.env.KAVLO_CHROMIUM || '/usr/bin/chromium';
let playwright = null;
try {
  playwright = createRequire(import.meta.url)('playwright-core');
} catch {
  // reported below
}
const skip = !existsSync(chromiumPath) ? `no browser at ${chromiumPath} (scripts/setup-wasm.sh installs chromium)`
  : !playwright ? 'playwright-core is not installed (npm install in wasm/)' : false;
if (skip) console.log(`demo test skipped: ${skip}`);

test('the demo page shows the example and the files it is given', { skip, timeout: 120_000 }, async (t) => {
  const server = await serve(0);
  const profile = mkdtempSync(path.join(tmpdir(), 'kavlo-chromium-'));
  const context = await playwright.chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    viewport: { width: 1100, height: 900 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  t.after(async () => {
    await context.close();
    server.close();
    rmSync(profile, { recursive: true, force: true });
  });
  const page = context.pages()[0] ?? await context.newPage();
  const problems = [];
  page.on('pageerror', (e) => problems.push(e.message));
  page.on('response', (r) => r.status() >= 400 && problems.push(`${r.status()} ${r.url()}`));
  await page.goto(`http://127.0.0.1:${server.address().port}/demo/`);
  await page.waitForSelector('body[data-state="ready"]');

  await page.click('#example');
  await page.waitForSelector('body[data-state="done"]');
  const groups = await page.$$eval('.group', (sections) => sections.map((s) => ({
    name: s.querySelector('h2').firstChild.textContent.trim(),
    titles: [...s.querySelectorAll('.title')].map((e) => e.textContent),
  })));
  assert.deepEqual(groups, [
    { name: 'News', titles: ['News One HD', 'World Report'] },
    { name: 'Sport', titles: ['Arena Sport', 'Motor Live'] },
    { name: 'Music', titles: ['Hits Non-Stop', 'Jazz Café'] },
    { name: 'Kids', titles: ['Toon Town'] },
    { name: 'Movies', titles: ['Classic Cinema'] },
    { name: 'Radio', titles: ['Radio City', 'Local Info'] },
  ]);
  // Every logo the example names has loaded; the entry without one shows
  // its initial.
  await page.waitForFunction(() => [...document.querySelectorAll('.logo img')].every((i) => i.complete));
  const logos = await page.$$eval('.logo', (l) => l.map((e) => {
    const img = e.querySelector('img');
    return img ? img.naturalWidth > 0 && new URL(img.src).pathname : e.textContent;
  }));
  assert.deepEqual(logos, ['news', 'news', 'sport', 'sport', 'music', 'music', 'kids', 'movies', 'radio']
    .map((n) => `/demo/logos/${n}.svg`).concat('L'));
  assert.deepEqual(await page.$$eval('#warnings li', (l) => l.map((e) => e.textContent)), ['m3u: ignored tag']);
  assert.match(await page.textContent('#status'),
    /^example\.m3u: m3u, 10 entries in 6 groups, encoding UTF-8, parsed in \d+\.\d ms$/);
  const artefacts = process.env.KAVLO_ARTEFACTS;
  if (artefacts) await page.screenshot({ path: path.join(artefacts, 'demo.png'), fullPage: true });

  // A streaming list in GBK, picked from disk: the library's chain reads it.
  const dir = mkdtempSync(path.join(tmpdir(), 'kavlo-demo-'));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  const gbk = path.join(dir, 'stations.txt');
  writeFileSync(gbk, Buffer.from('d0c2cec5a3ac687474703a2f2f782f6e6577730a', 'hex'));  // 新闻，http://x/news
  await page.setInputFiles('#file', gbk);
  await page.waitForFunction(() => document.querySelector('#status').textContent.startsWith('stations.txt'));
  assert.match(await page.textContent('#status'), /^stations\.txt: streaming-list, 1 entries in 1 groups, encoding GBK,/);
  assert.deepEqual(await page.$$eval('.title', (l) => l.map((e) => e.textContent)), ['新闻']);
  assert.deepEqual(await page.$$eval('#warnings li', (l) => l.map((e) => e.textContent)), ['encoding: GBK fallback']);

  // A file that is no playlist: the library's message, nothing rendered.
  const bad = path.join(dir, 'notes.txt');
  writeFileSync(bad, 'shopping: milk, bread\n');
  await page.setInputFiles('#file', bad);
  await page.waitForSelector('body[data-state="error"]');
  assert.equal(await page.textContent('#status'), 'notes.txt: unknown playlist format');
  assert.equal(await page.$$eval('.group', (l) => l.length), 0);
  assert.deepEqual(problems, []);
});
