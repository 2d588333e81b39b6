'use strict';
// kavlo for Node.js: playlist parsing (M3U and extended M3U, streaming URL
// lists, CUE sheets; HLS refused) through the kavlo library's C interface.

const path = require('node:path');
const { fileURLToPath } = require('node:url');

const addon = require(path.join(__dirname, 'build', 'Release', 'kavlo.node'));

/** Status codes of the library. */
const Status = Object.freeze({
  OK: 0,
  ERR_DECODE: 1,
  ERR_FORMAT: 3,
  ERR_INVALID: 4,
  ERR_IO: 5,
  ERR_NOMEM: 6,
});

// The names of the failure codes, by code.
const statusNames = Object.fromEntries(
  Object.entries(Status).filter(([, code]) => code !== Status.OK).map(([name, code]) => [code, name]));

/** Format codes, by the names the library gives them. */
const formatCodes = Object.freeze({
  auto: -1,
  m3u: 0,
  'm3u8-hls': 1,
  'streaming-list': 2,
  cue: 3,
});

/** A parse that failed: `status` is the library's status code, `message`
 *  its error text, `code` the status as a name ("ERR_IO"). */
class KavloError extends Error {
  constructor(status, message) {
    super(message || (status === Status.ERR_NOMEM ? 'out of memory' : `status ${status}`));
    this.name = 'KavloError';
    this.status = status;
    this.code = statusNames[status] || `ERR_${status}`;
  }
}

function foldAscii(s) {
  return s.replace(/[A-Z]+/g, (m) => m.toLowerCase());
}

function lookup(obj, key) {
  if (obj === undefined) return undefined;
  if (Object.prototype.hasOwnProperty.call(obj, key)) return obj[key];
  const folded = foldAscii(key);
  for (const k of Object.keys(obj)) if (foldAscii(k) === folded) return obj[k];
  return undefined;
}

/** One playlist item. The own properties mirror the item of the library's
 *  full document; those it leaves out when empty (options, url, headers,
 *  genre) are left out here too. The getters tvg, group, http, catchup,
 *  timeshift and lang are a convenience view, shaped as the JavaScript IPTV
 *  parsers shape it ("" for what the item does not have). */
class Item {
  constructor(title, location, durationMs, releaseDate, attrs, line, options, url, headers, genre) {
    this.location = location;
    this.title = title;
    this.durationMs = durationMs;
    this.releaseDate = releaseDate;
    this.attrs = attrs;
    this.line = line;
    if (options !== undefined) this.options = options;
    if (url !== undefined) this.url = url;
    if (headers !== undefined) this.headers = headers;
    if (genre !== undefined) this.genre = genre;
  }

  /** Value of the first attribute whose key equals `key` with ASCII
   *  letters folded, or undefined. */
  attr(key) {
    return lookup(this.attrs, key);
  }

  // The value of the last option with this tag and key (ASCII letters
  // folded) that has one, or undefined.
  #option(tag, key) {
    const options = this.options;
    if (options === undefined) return undefined;
    for (let i = options.length - 1; i >= 0; --i) {
      const o = options[i];
      if (o.value && foldAscii(o.tag) === tag && foldAscii(o.key) === key) return o.value;
    }
    return undefined;
  }

  get tvg() {
    return {
      id: this.attr('tvg-id') ?? '',
      name: this.attr('tvg-name') ?? '',
      logo: this.attr('tvg-logo') ?? '',
      url: this.attr('tvg-url') ?? '',
      rec: this.attr('tvg-rec') ?? '',
      shift: this.attr('tvg-shift') ?? '',
      language: this.attr('tvg-language') ?? '',
      country: this.attr('tvg-country') ?? '',
    };
  }

  /** The group-title attribute (or #EXTGRP), else a streaming list's genre. */
  get group() {
    return { title: this.attr('group-title') ?? this.genre ?? '' };
  }

  /** Headers after "|" in the location win over #EXTVLCOPT options, which
   *  win over attributes. */
  get http() {
    return {
      referrer: lookup(this.headers, 'referer') || this.#option('extvlcopt', 'http-referrer') ||
        this.attr('referrer') || '',
      'user-agent': lookup(this.headers, 'user-agent') || this.#option('extvlcopt', 'http-user-agent') ||
        this.attr('user-agent') || '',
    };
  }

  get catchup() {
    return {
      type: this.attr('catchup') ?? '',
      days: this.attr('catchup-days') ?? '',
      source: this.attr('catchup-source') ?? '',
    };
  }

  get timeshift() {
    return this.attr('timeshift') ?? '';
  }

  get lang() {
    return this.attr('lang') ?? '';
  }
}

/** The outcome of a parse. It is a copy: later parses do not change it. */
class Result {
  #document;
  #json;

  constructor(format, imdbDatePlaylist, items, cue, warnings, header, document) {
    this.format = format;
    this.imdbDatePlaylist = imdbDatePlaylist;
    this.items = items;
    this.cue = cue;
    this.warnings = warnings;
    this.header = header;
    this.#document = document;
  }

  /** The library's full JSON document of this result, as text: the
   *  document of the C interface with the members the full document adds. */
  get json() {
    if (this.#json === undefined) this.#json = addon.jsonText(this.#document);
    return this.#json;
  }

  /** The document as a value, so that JSON.stringify(result) writes it. */
  toJSON() {
    return JSON.parse(this.json);
  }
}

// Turns the addon's tables into the Result, as a generator that yields
// every few thousand items or tracks: build() runs it at once,
// buildInSlices() lets the event loop turn between the slices. The strings
// come as a few large strings (`texts`) cut with slice(): string k ends at
// ends[k] in its text, and text c holds the strings from chunkFirst[c] on.
// They are read in the order the addon lists in snapshot.h, which is the
// document's order.
function* assemble(raw) {
  const { texts, chunkFirst, ends, refs, keys, protoKey } = raw;
  let chunk = 0;
  let text = texts.length ? texts[0] : '';
  let next = chunkFirst.length > 1 ? chunkFirst[1] : 0;
  let pos = 0;
  let k = 0;
  // Repeated short strings come once: refs[k] > 0 keeps string k as that
  // repeat, refs[k] < 0 takes the repeat kept before.
  const repeats = new Array(raw.repeatCount);
  const str = () => {
    while (k === next && chunk + 1 < texts.length) {
      text = texts[++chunk];
      next = chunkFirst[chunk + 1];
      pos = 0;
    }
    const ref = refs[k];
    if (ref < 0) {
      ++k;
      return repeats[-ref - 1];
    }
    const end = ends[k++];
    const s = text.slice(pos, end);
    pos = end;
    if (ref > 0) repeats[ref - 1] = s;
    return s;
  };
  // An object of `count` strings keyed by ids from keyIds[at...]; the id
  // 0xffffffff marks a repeated key, whose value was not kept.
  const object = (keyIds, at, count) => {
    const obj = {};
    for (const last = at + count; at < last; ++at) {
      const id = keyIds[at];
      if (id === 0xffffffff) continue;
      const value = str();
      if (id === protoKey) {
        Object.defineProperty(obj, '__proto__', { value, writable: true, enumerable: true, configurable: true });
      } else {
        obj[keys[id]] = value;
      }
    }
    return obj;
  };
  const records = (count, tagged) => {
    const list = new Array(count);
    for (let r = 0; r < count; ++r) {
      list[r] = tagged ? { tag: str(), key: str(), value: str() } : { key: str(), value: str() };
    }
    return list;
  };

  const { durations, releaseDates, lines, itemMasks, attrCounts, attrKeys, optionCounts, headerCounts,
    headerKeys } = raw;
  const count = durations.length;
  const items = new Array(count);
  for (let i = 0, a = 0, h = 0; i < count; ++i) {
    const title = str();
    const location = str();
    const attrs = object(attrKeys, a, attrCounts[i]);
    a += attrCounts[i];
    const options = optionCounts[i] ? records(optionCounts[i], true) : undefined;
    const mask = itemMasks[i];
    const url = mask & 1 ? str() : undefined;
    const headers = headerCounts[i] ? object(headerKeys, h, headerCounts[i]) : undefined;
    h += headerCounts[i];
    const genre = mask & 2 ? str() : undefined;
    items[i] = new Item(title, location, durations[i], releaseDates[i], attrs, lines[i], options, url, headers, genre);
    if ((i & sliceMask) === sliceMask) yield;
  }

  let cue = null;
  if (raw.cue) {
    const sheetMask = raw.sheetMask;
    const title = sheetMask & 1 ? str() : null;
    const performer = sheetMask & 2 ? str() : null;
    const { trackNumbers, trackMasks, pregaps, postgaps, trackRemCounts, indexCounts, indexNumbers, indexFrames,
      indexMs } = raw;
    const tracks = new Array(trackNumbers.length);
    for (let t = 0, x = 0; t < tracks.length; ++t) {
      const mask = trackMasks[t];
      const track = {
        number: trackNumbers[t],
        title: mask & 1 ? str() : null,
        file: mask & 2 ? str() : null,
        performer: null,
        songwriter: null,
        isrc: null,
        flags: null,
        datatype: null,
        pregap: pregaps[t] < 0 ? null : pregaps[t],
        postgap: postgaps[t] < 0 ? null : postgaps[t],
        indices: new Array(indexCounts[t]),
        rem: null,
      };
      for (let j = 0; j < track.indices.length; ++j, ++x) {
        track.indices[j] = { number: indexNumbers[x], frames: indexFrames[x], ms: indexMs[x] };
      }
      if (mask & 4) track.performer = str();
      if (mask & 8) track.songwriter = str();
      if (mask & 16) track.isrc = str();
      if (mask & 32) track.flags = str();
      if (mask & 64) track.datatype = str();
      track.rem = records(trackRemCounts[t], false);
      tracks[t] = track;
      if ((t & sliceMask) === sliceMask) yield;
    }
    cue = {
      title,
      performer,
      songwriter: sheetMask & 4 ? str() : null,
      catalog: sheetMask & 8 ? str() : null,
      cdtextfile: sheetMask & 16 ? str() : null,
      rem: null,
      tracks,
    };
    cue.rem = records(raw.sheetRemCount, false);
  }

  const warnings = new Array(raw.warningCount);
  for (let w = 0; w < warnings.length; ++w) warnings[w] = str();
  const header = object(raw.m3uHeaderKeys, 0, raw.m3uHeaderKeys.length);
  const result = new Result(raw.format, raw.imdb, items, cue, warnings, header, raw.json);
  result.encoding = raw.encoding;
  return result;
}

const sliceMask = 2047;

function build(raw) {
  const steps = assemble(raw);
  for (;;) {
    const step = steps.next();
    if (step.done) return step.value;
  }
}

function buildInSlices(raw) {
  return new Promise((resolve, reject) => {
    const steps = assemble(raw);
    const next = () => {
      try {
        const step = steps.next();
        if (step.done) {
          resolve(step.value);
        } else {
          setImmediate(next);
        }
      } catch (e) {
        reject(e);
      }
    };
    next();
  });
}

addon.setup({ build, KavloError });

/** The library's version, "MAJOR.MINOR.PATCH". */
const version = addon.version;

function formatCode(format) {
  if (format === undefined || format === null) return formatCodes.auto;
  if (typeof format === 'number' && Number.isInteger(format)) return format;
  if (typeof format === 'string' && Object.prototype.hasOwnProperty.call(formatCodes, format)) {
    return formatCodes[format];
  }
  throw new KavloError(Status.ERR_FORMAT, `unknown playlist format ${JSON.stringify(String(format))}`);
}

function options(opts) {
  if (opts === undefined || opts === null) return {};
  if (typeof opts !== 'object') throw new TypeError('options must be an object');
  return opts;
}

function filePath(p) {
  return p instanceof URL ? fileURLToPath(p) : p;
}

/** Parses a playlist held in memory: a Buffer, Uint8Array, ArrayBuffer or
 *  string (taken as UTF-8). Options: format ("m3u", "streaming-list",
 *  "cue", or detection when left out) and encoding (the name of the bytes'
 *  encoding; left out, it is recognised). Throws KavloError on failure. */
function parse(input, opts) {
  const o = options(opts);
  return addon.parse(input, formatCode(o.format), o.encoding);
}

/** Reads a file and parses it, detecting its format. */
function parseFile(file, opts) {
  const o = options(opts);
  return addon.parseFile(filePath(file), o.encoding);
}

// The library parses one text at a time. Asynchronous parses wait for their
// turn here rather than on a thread of libuv's pool, which fs, dns and zlib
// share.
let queueTail = Promise.resolve();
function queued(start) {
  const run = queueTail.then(start);
  queueTail = run.then(() => undefined, () => undefined);
  return run;
}

/** As parse(), on a worker thread: returns a promise of the result. A
 *  buffer is read where it is, as fs.write() does: leave it unchanged until
 *  the promise settles. A string is converted to UTF-8 first, on the
 *  calling thread. The objects of a large result are made in slices, with
 *  turns of the event loop between them. */
async function parseAsync(input, opts) {
  const o = options(opts);
  const format = formatCode(o.format);
  return queued(() => addon.parseAsync(input, format, o.encoding)).then(buildInSlices);
}

/** As parseFile(), on a worker thread: returns a promise of the result. */
async function parseFileAsync(file, opts) {
  const o = options(opts);
  const p = filePath(file);
  return queued(() => addon.parseFileAsync(p, o.encoding)).then(buildInSlices);
}

/** The format of a text without parsing it: "m3u", "m3u8-hls",
 *  "streaming-list", "cue" or "unknown". */
function detect(input) {
  return addon.detect(input);
}

/** Gives back the memory the library keeps after a parse for the next one
 *  (its copy of the last result, a few times the size of the input).
 *  Results already returned are not affected. */
function release() {
  addon.release();
}

module.exports = {
  version,
  release,
  parse,
  parseFile,
  parseAsync,
  parseFileAsync,
  detect,
  KavloError,
  Status,
  Item,
  Result,
};
