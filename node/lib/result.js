'use strict';
// The result objects, made from plain tables. Nothing here loads the addon:
// any producer of the tables below (the Node-API addon, a WebAssembly build
// of the engine) gets the same results.
//
// The tables of one parse:
//   format        "m3u", "streaming-list", "cue", ...; imdb: boolean
//   encoding      the encoding the text was read in, or null
//   texts         strings that hold every string of the result back to back;
//                 textFirst[c] is the number of the first string in
//                 texts[c] (one more entry at the end: the string count), and
//                 ends[k] is where string k ends in its text, in UTF-16 units
//   refs          optional Int32Array: refs[k] = r > 0 when string k is kept
//                 as repeat r, -r when string k is repeat r (it then has no
//                 characters of its own), 0 otherwise; repeatCount of them
//   keys          the distinct keys of attributes, headers and #EXTM3U
//                 attributes; keyIds lists the key of every pair in string
//                 order, 0xffffffff for a key the object already has (its
//                 value is not among the strings)
//   durations, releaseDates, lines (numbers per item); itemMasks: 1 the item
//                 has a url, 2 a group, 4 a label, 8, 16, 32 and 64 the
//                 catch-up mode, source, days and shift; attrCounts,
//                 optionCounts, headerCounts, alternateCounts, groupCounts,
//                 httpCounts per item; headerAttrCount
//   cue           boolean; sheetMask (bits for title, performer, songwriter,
//                 catalog, cdtextfile), sheetRemCount; per track
//                 trackNumbers, trackMasks (bits for title, performer,
//                 songwriter, isrc, file, flags, datatype), pregaps and
//                 postgaps (-1: none), trackRemCounts, indexCounts; per index
//                 indexNumbers, indexFrames, indexMs
//   warningCount; hasTitle, epgCount; diagnosticLines (one per diagnostic)
// The strings come in this order: per item title, location, the values of
// its attributes, tag, key and value of each option, url, the values of its
// headers, its alternates, label, group, groups, the values of its request
// headers (http) and its catch-up fields (in mask order); the values of the
// #EXTM3U attributes; the sheet's fields (in mask order) and the key and
// value of each of its REM lines; per track its fields (in mask order) and
// REM lines; the warnings; the title, the EPG addresses, and message and
// subject of each diagnostic.

const { writeArgs } = require('./options');

/** Status codes of the library. */
const Status = Object.freeze({ OK: 0, ERR_DECODE: 1, ERR_FORMAT: 3, ERR_INVALID: 4, ERR_IO: 5, ERR_NOMEM: 6 });
const statusNames = Object.fromEntries(Object.entries(Status).map(([name, code]) => [code, name]));

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

const foldAscii = (s) => s.replace(/[A-Z]+/g, (m) => m.toLowerCase());

// The value of the first key equal to `key` with ASCII letters folded.
function lookup(obj, key) {
  if (obj === undefined) return undefined;
  if (Object.prototype.hasOwnProperty.call(obj, key)) return obj[key];
  const folded = foldAscii(key);
  for (const k of Object.keys(obj)) if (foldAscii(k) === folded) return obj[k];
  return undefined;
}

/** One playlist entry. Its own properties are its data, named as the
 *  library's full document names them (camelCase); options, url, headers,
 *  alternates, label, group, groups, http and catchup are there when the
 *  entry has them, in that order, after the six every entry has. The
 *  getters tvg, groupTitle, timeshift and lang are a convenience view for
 *  code written against the JavaScript IPTV parsers ("" where nothing is). */
class Item {
  constructor(location, title, durationMs, releaseDate, attrs, line) {
    this.location = location;
    this.title = title;
    this.durationMs = durationMs;
    this.releaseDate = releaseDate;
    this.attrs = attrs;
    this.line = line;
  }

  /** Value of the first attribute whose key equals `key` with ASCII letters
   *  folded, or undefined. */
  attr(key) {
    return lookup(this.attrs, key);
  }

  get tvg() {
    const a = (k) => this.attr(`tvg-${k}`) ?? '';
    return { id: a('id'), name: a('name'), logo: a('logo'), url: a('url'), rec: a('rec'), shift: a('shift'),
      language: a('language'), country: a('country') };
  }

  /** The group-title attribute (or #EXTGRP), else the streaming group. */
  get groupTitle() {
    return this.attr('group-title') ?? this.group ?? '';
  }

  get timeshift() {
    return this.attr('timeshift') ?? '';
  }

  get lang() {
    return this.attr('lang') ?? '';
  }
}

// The writer of each result a parse made: (format code, flags, bytes) to
// the text, or to the library's status when it cannot be written. Kept
// beside the results, not on them, so that they stay plain data.
const writers = new WeakMap();

/** Gives `result` the writer that toText() calls. */
function setWriter(result, write) {
  writers.set(result, write);
  return result;
}

const writtenNames = { '-1': 'its own format', 0: 'm3u', 2: 'streaming-list', 3: 'cue' };

// An object of pairs, left out of the document when empty.
const pairsOf = (obj) => (Object.keys(obj).length ? obj : undefined);

/** The outcome of a parse, independent of the library once returned. */
class Result {
  constructor(format, imdbDatePlaylist, items, cue, warnings, header, encoding, title, epg, diagnostics) {
    this.format = format;
    this.imdbDatePlaylist = imdbDatePlaylist;
    this.items = items;
    this.cue = cue;
    this.warnings = warnings;
    this.header = header;
    this.encoding = encoding;
    this.title = title;
    this.epg = epg;
    this.diagnostics = diagnostics;
  }

  /** The parsed playlist written back as playlist text, as the library's
   *  writer writes it: options format ("m3u", "streaming-list" or "txt",
   *  "cue" for a CUE result; left out or "auto", the result's own format),
   *  bom and crlf (booleans), bytes (true: the text's bytes instead of a
   *  string). It writes the result as the parse gave it: changes made to
   *  the objects since do not show (write them with write()). */
  toText(options) {
    const [format, flags, bytes] = writeArgs(options, -1);
    const write = writers.get(this);
    if (write === undefined) throw new TypeError('toText() writes results that a parse made; write() writes items');
    const out = write(format, flags, bytes);
    if (typeof out !== 'number') return out;
    throw new KavloError(out, out === Status.ERR_NOMEM ? undefined
      : `a ${this.format} result cannot be written as ${writtenNames[format]}`);
  }

  /** toText() in the M3U format: options bom, crlf and bytes. */
  toM3U(options) {
    if (options !== undefined && options !== null && typeof options !== 'object') {
      throw new TypeError('options must be an object');
    }
    return this.toText({ ...options, format: 'm3u' });
  }

  /** The result as the library's full JSON document, member for member:
   *  JSON.stringify(result) writes it. */
  toJSON() {
    const doc = { format: this.format, item_count: this.items.length, imdb_date_playlist: this.imdbDatePlaylist };
    doc.items = this.items.map((i) => ({ title: i.title, location: i.location, duration_ms: i.durationMs,
      release_date: i.releaseDate || undefined, attrs: pairsOf(i.attrs), line: i.line, options: i.options,
      url: i.url, headers: i.headers, alternates: i.alternates, label: i.label, group: i.group, groups: i.groups,
      http: i.http, catchup: i.catchup }));
    const c = this.cue;
    if (c) {
      const rem = (list) => (list.length ? list : undefined);
      doc.cue = { title: c.title ?? undefined, performer: c.performer ?? undefined,
        tracks: c.tracks.map((t) => ({ number: t.number, title: t.title ?? undefined, file: t.file ?? undefined,
          indices: t.indices.map((x) => ({ n: x.number, frames: x.frames, ms: x.ms })),
          performer: t.performer || undefined, songwriter: t.songwriter || undefined, isrc: t.isrc || undefined,
          flags: t.flags || undefined, datatype: t.datatype || undefined, pregap: t.pregap ?? undefined,
          postgap: t.postgap ?? undefined, rem: rem(t.rem) })),
        songwriter: c.songwriter || undefined, catalog: c.catalog || undefined,
        cdtextfile: c.cdtextfile || undefined, rem: rem(c.rem) };
    }
    if (this.warnings.length) doc.warnings = this.warnings;
    doc.version = Result.version;
    doc.header = pairsOf(this.header);
    doc.title = this.title ?? undefined;
    if (this.epg.length) doc.epg = this.epg;
    if (this.diagnostics.length) doc.diagnostics = this.diagnostics;
    return doc;
  }
}
Result.version = '';

const sliceMask = 2047;

// Makes the Result from the tables, as a generator that yields every 2048
// items or tracks, so that a caller may let the event loop turn between
// the slices.
function* assemble(t) {
  const { texts, textFirst, ends, keys, keyIds } = t;
  const refs = t.refs || null;
  const repeats = new Array(t.repeatCount || 0);
  let chunk = 0;
  let text = texts.length ? texts[0] : '';
  let next = textFirst.length > 1 ? textFirst[1] : 0;
  let pos = 0;
  let k = 0;
  const str = () => {
    while (k === next && chunk + 1 < texts.length) {
      text = texts[++chunk];
      next = textFirst[chunk + 1];
      pos = 0;
    }
    const ref = refs === null ? 0 : refs[k];
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
  let p = 0;  // the next pair in keyIds
  const object = (count) => {
    const obj = {};
    for (const last = p + count; p < last; ++p) {
      const id = keyIds[p];
      if (id === 0xffffffff) continue;
      const key = keys[id];
      if (key === '__proto__') {
        Object.defineProperty(obj, key, { value: str(), writable: true, enumerable: true, configurable: true });
      } else {
        obj[key] = str();
      }
    }
    return obj;
  };
  const records = (count, tagged) => {
    const list = new Array(count);
    for (let r = 0; r < count; ++r) list[r] = tagged ? { tag: str(), key: str(), value: str() } : { key: str(), value: str() };
    return list;
  };

  const strings = (count) => {
    const list = new Array(count);
    for (let r = 0; r < count; ++r) list[r] = str();
    return list;
  };

  const { durations, releaseDates, lines, itemMasks, attrCounts, optionCounts, headerCounts, alternateCounts,
    groupCounts, httpCounts } = t;
  const items = new Array(durations.length);
  for (let i = 0; i < items.length; ++i) {
    const title = str();
    const location = str();
    const item = new Item(location, title, durations[i], releaseDates[i], object(attrCounts[i]), lines[i]);
    if (optionCounts[i]) item.options = records(optionCounts[i], true);
    const mask = itemMasks[i];
    if (mask & 1) item.url = str();
    if (headerCounts[i]) item.headers = object(headerCounts[i]);
    if (alternateCounts[i]) item.alternates = strings(alternateCounts[i]);
    if (mask & 4) item.label = str();
    if (mask & 2) item.group = str();
    if (groupCounts[i]) item.groups = strings(groupCounts[i]);
    if (httpCounts[i]) item.http = object(httpCounts[i]);
    if (mask & 0x78) {
      const catchup = {};
      if (mask & 8) catchup.mode = str();
      if (mask & 16) catchup.source = str();
      if (mask & 32) catchup.days = str();
      if (mask & 64) catchup.shift = str();
      item.catchup = catchup;
    }
    items[i] = item;
    if ((i & sliceMask) === sliceMask) yield;
  }
  const header = object(t.headerAttrCount);

  let cue = null;
  if (t.cue) {
    const field = (mask, bit) => (mask & bit ? str() : null);
    const m = t.sheetMask;
    cue = { title: field(m, 1), performer: field(m, 2), songwriter: field(m, 4), catalog: field(m, 8),
      cdtextfile: field(m, 16), rem: records(t.sheetRemCount, false), tracks: null };
    const { trackNumbers, trackMasks, pregaps, postgaps, trackRemCounts, indexCounts, indexNumbers, indexFrames,
      indexMs } = t;
    const tracks = new Array(trackNumbers.length);
    for (let n = 0, x = 0; n < tracks.length; ++n) {
      const tm = trackMasks[n];
      const track = { number: trackNumbers[n], title: field(tm, 1), performer: field(tm, 2),
        songwriter: field(tm, 4), isrc: field(tm, 8), file: field(tm, 16), flags: field(tm, 32),
        datatype: field(tm, 64), pregap: pregaps[n] < 0 ? null : pregaps[n],
        postgap: postgaps[n] < 0 ? null : postgaps[n], rem: records(trackRemCounts[n], false),
        indices: new Array(indexCounts[n]) };
      for (let j = 0; j < track.indices.length; ++j, ++x) {
        track.indices[j] = { number: indexNumbers[x], frames: indexFrames[x], ms: indexMs[x] };
      }
      tracks[n] = track;
      if ((n & sliceMask) === sliceMask) yield;
    }
    cue.tracks = tracks;
  }
  const warnings = strings(t.warningCount);
  const title = t.hasTitle ? str() : null;
  const epg = strings(t.epgCount);
  const { diagnosticLines } = t;
  const diagnostics = new Array(diagnosticLines.length);
  for (let d = 0; d < diagnostics.length; ++d) diagnostics[d] = { line: diagnosticLines[d], message: str(), subject: str() };
  return new Result(t.format, t.imdb, items, cue, warnings, header, t.encoding, title, epg, diagnostics);
}

/** The Result of the tables, at once. */
function build(tables) {
  const steps = assemble(tables);
  for (;;) {
    const step = steps.next();
    if (step.done) return step.value;
  }
}

/** The Result of the tables, in slices with turns of the event loop between
 *  them. */
function buildInSlices(tables) {
  return new Promise((resolve, reject) => {
    const steps = assemble(tables);
    const next = () => {
      try {
        const step = steps.next();
        if (step.done) resolve(step.value);
        else setImmediate(next);
      } catch (e) {
        reject(e);
      }
    };
    next();
  });
}

module.exports = { Status, KavloError, Item, Result, build, buildInSlices, setWriter };
