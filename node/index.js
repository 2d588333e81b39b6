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

const statusNames = {
  1: 'ERR_DECODE',
  3: 'ERR_FORMAT',
  4: 'ERR_INVALID',
  5: 'ERR_IO',
  6: 'ERR_NOMEM',
};

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

/** One playlist item. The own properties mirror the library's item; the
 *  getters tvg, group, http, catchup, timeshift and lang are a convenience
 *  view derived from the attributes, shaped as the JavaScript IPTV parsers
 *  shape them ("" for what the item does not have). */
class Item {
  constructor(location, title, durationMs, releaseDate, attrs) {
    this.location = location;
    this.title = title;
    this.durationMs = durationMs;
    this.releaseDate = releaseDate;
    this.attrs = attrs;
  }

  /** Value of the first attribute whose key equals `key` with ASCII
   *  letters folded, or undefined. */
  attr(key) {
    const attrs = this.attrs;
    if (Object.prototype.hasOwnProperty.call(attrs, key)) return attrs[key];
    const folded = foldAscii(key);
    for (const k of Object.keys(attrs)) if (foldAscii(k) === folded) return attrs[k];
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

  get group() {
    return { title: this.attr('group-title') ?? '' };
  }

  get http() {
    return {
      referrer: this.attr('referrer') ?? '',
      'user-agent': this.attr('user-agent') ?? '',
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

  constructor(format, imdbDatePlaylist, items, cue, warnings, document) {
    this.format = format;
    this.imdbDatePlaylist = imdbDatePlaylist;
    this.items = items;
    this.cue = cue;
    this.warnings = warnings;
    this.#document = document;
  }

  /** The library's JSON document of this result, as text. */
  get json() {
    if (this.#json === undefined) this.#json = addon.jsonText(this.#document);
    return this.#json;
  }

  /** The library's JSON document as a value, so that JSON.stringify(result)
   *  writes that document. */
  toJSON() {
    return JSON.parse(this.json);
  }
}

const sheetFields = ['title', 'performer', 'songwriter', 'catalog', 'cdtextfile'];
const trackFields = ['title', 'performer', 'songwriter', 'isrc', 'file', 'flags', 'datatype'];

// Turns the addon's tables into the Result. The strings come as a few large
// strings (`texts`) cut with slice(): string k ends at ends[k] in its text,
// and text c holds the strings from chunkFirst[c] on. They are read in the
// order the addon wrote them: per item its location, title and attribute
// values; the sheet's fields; per track its fields; the warnings.
function build(raw) {
  const { texts, chunkFirst, ends } = raw;
  let chunk = 0;
  let text = texts.length ? texts[0] : '';
  let next = chunkFirst.length > 1 ? chunkFirst[1] : 0;
  let pos = 0;
  let k = 0;
  const str = () => {
    while (k === next && chunk + 1 < texts.length) {
      text = texts[++chunk];
      next = chunkFirst[chunk + 1];
      pos = 0;
    }
    const end = ends[k++];
    const s = text.slice(pos, end);
    pos = end;
    return s;
  };

  const { durations, releaseDates, attrCounts, attrKeys, keys, protoKey } = raw;
  const count = durations.length;
  const items = new Array(count);
  for (let i = 0, a = 0; i < count; ++i) {
    const location = str();
    const title = str();
    const attrs = {};
    for (const last = a + attrCounts[i]; a < last; ++a) {
      const id = attrKeys[a];
      if (id === 0xffffffff) continue; // a repeated key: the first one wins
      const value = str();
      if (id === protoKey) {
        Object.defineProperty(attrs, '__proto__', { value, writable: true, enumerable: true, configurable: true });
      } else {
        attrs[keys[id]] = value;
      }
    }
    items[i] = new Item(location, title, durations[i], releaseDates[i], attrs);
  }

  let cue = null;
  if (raw.cue) {
    cue = {};
    for (let f = 0; f < sheetFields.length; ++f) cue[sheetFields[f]] = raw.sheetMask & (1 << f) ? str() : null;
    const { trackNumbers, trackMasks, indexCounts, indexNumbers, indexFrames, indexMs } = raw;
    const tracks = new Array(trackNumbers.length);
    for (let t = 0, x = 0; t < tracks.length; ++t) {
      const track = { number: trackNumbers[t] };
      const mask = trackMasks[t];
      for (let f = 0; f < trackFields.length; ++f) track[trackFields[f]] = mask & (1 << f) ? str() : null;
      const indices = new Array(indexCounts[t]);
      for (let j = 0; j < indices.length; ++j, ++x) {
        indices[j] = { number: indexNumbers[x], frames: indexFrames[x], ms: indexMs[x] };
      }
      track.indices = indices;
      tracks[t] = track;
    }
    cue.tracks = tracks;
  }

  const warnings = new Array(raw.warningCount);
  for (let w = 0; w < warnings.length; ++w) warnings[w] = str();
  return new Result(raw.format, raw.imdb, items, cue, warnings, raw.json);
}

addon.setup({ build, KavloError });

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

/** As parse(), on a worker thread: returns a promise of the result. A
 *  buffer is read where it is, as fs.write() does: leave it unchanged until
 *  the promise settles. A string is converted to UTF-8 first, on the
 *  calling thread. */
function parseAsync(input, opts) {
  try {
    const o = options(opts);
    return addon.parseAsync(input, formatCode(o.format), o.encoding);
  } catch (e) {
    return Promise.reject(e);
  }
}

/** As parseFile(), on a worker thread: returns a promise of the result. */
function parseFileAsync(file, opts) {
  try {
    const o = options(opts);
    return addon.parseFileAsync(filePath(file), o.encoding);
  } catch (e) {
    return Promise.reject(e);
  }
}

/** The format of a text without parsing it: "m3u", "m3u8-hls",
 *  "streaming-list", "cue" or "unknown". */
function detect(input) {
  return addon.detect(input);
}

module.exports = {
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
