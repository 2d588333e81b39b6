// The demo page: parses the playlist dropped or chosen (or the bundled
// example) and shows its entries grouped, with their logos, the warnings,
// the encoding the text was read in and the time the parse took.
import * as kavlo from '../index.js';

const $ = (id) => document.getElementById(id);
const status = $('status');
const shownPerGroup = 500;  // a list of thousands shows the first ones of each group

function show(text, isError = false) {
  status.textContent = text;
  status.classList.toggle('error', isError);
}

// Logos are taken from http(s) and relative URLs only.
function logoUrl(item) {
  const logo = item.tvg.logo;
  if (!logo) return null;
  try {
    const url = new URL(logo, document.baseURI);
    return url.protocol === 'http:' || url.protocol === 'https:' ? url.href : null;
  } catch {
    return null;
  }
}

function channel(item) {
  const li = $('channel').content.firstElementChild.cloneNode(true);
  const title = item.title || item.tvg.name || item.location;
  li.querySelector('.title').textContent = title;
  li.querySelector('.location').textContent = item.location;
  li.querySelector('.location').title = item.location;
  const logo = li.querySelector('.logo');
  const url = logoUrl(item);
  logo.textContent = [...title].slice(0, 1).join('').toUpperCase();
  if (url) {
    // Over the initial, which shows again when the image cannot be had.
    const img = new Image();
    img.alt = '';
    img.loading = 'lazy';
    img.referrerPolicy = 'no-referrer';
    img.onerror = () => img.remove();
    img.src = url;
    logo.append(img);
  }
  return li;
}

// Entries by group in the order groups first appear: the group-title (or
// streaming group), a CUE sheet's title, else "No group".
function grouped(result) {
  const groups = new Map();
  const fallback = result.cue?.title || 'No group';
  for (const item of result.items) {
    const name = item.groupTitle || fallback;
    if (!groups.has(name)) groups.set(name, []);
    groups.get(name).push(item);
  }
  return groups;
}

function render(name, result, ms) {
  const groups = grouped(result);
  const fragment = document.createDocumentFragment();
  for (const [group, items] of groups) {
    const section = document.createElement('section');
    section.className = 'group';
    const h2 = document.createElement('h2');
    h2.append(group, ' ');
    const count = document.createElement('span');
    count.className = 'count';
    count.textContent = `(${items.length})`;
    h2.append(count);
    const ul = document.createElement('ul');
    for (const item of items.slice(0, shownPerGroup)) ul.append(channel(item));
    section.append(h2, ul);
    if (items.length > shownPerGroup) {
      const more = document.createElement('p');
      more.className = 'more';
      more.textContent = `… and ${items.length - shownPerGroup} more`;
      section.append(more);
    }
    fragment.append(section);
  }
  $('groups').replaceChildren(fragment);

  const warnings = $('warnings');
  warnings.hidden = result.warnings.length === 0;
  warnings.querySelector('.count').textContent = `(${result.warnings.length})`;
  warnings.querySelector('ul').replaceChildren(...result.warnings.map((w) => {
    const li = document.createElement('li');
    li.textContent = w;
    return li;
  }));
  show(`${name}: ${result.format}, ${result.items.length} entries in ${groups.size} groups, ` +
    `encoding ${result.encoding ?? 'unknown'}, parsed in ${ms.toFixed(1)} ms`);
  document.body.dataset.state = 'done';
}

function parseBytes(name, bytes) {
  document.body.dataset.state = 'parsing';
  const encoding = $('encoding').value || undefined;
  const t0 = performance.now();
  let result;
  try {
    result = kavlo.parse(bytes, { encoding });
  } catch (e) {
    $('groups').replaceChildren();
    $('warnings').hidden = true;
    show(`${name}: ${e.message}`, true);
    document.body.dataset.state = 'error';
    return;
  }
  render(name, result, performance.now() - t0);
}

async function parseFile(file) {
  show(`Reading ${file.name}…`);
  parseBytes(file.name, new Uint8Array(await file.arrayBuffer()));
}

$('file').addEventListener('change', (e) => {
  if (e.target.files[0]) parseFile(e.target.files[0]);
});
$('example').addEventListener('click', async () => {
  const response = await fetch('example.m3u');
  parseBytes('example.m3u', new Uint8Array(await response.arrayBuffer()));
});
const drop = $('drop');
drop.addEventListener('dragover', (e) => {
  e.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (e) => {
  e.preventDefault();
  drop.classList.remove('over');
  if (e.dataTransfer.files[0]) parseFile(e.dataTransfer.files[0]);
});

show(`Ready: kavlo ${kavlo.version}. Drop a playlist, choose one, or load the example.`);
document.body.dataset.state = 'ready';
