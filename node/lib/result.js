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

// The strings of a parse (texts, textFirst, ends, refs of the tables), read
// in order from any string on: an item reads the rest of its strings when
// it is first asked for them.
class Strings {
  // `shared`: what the readers of one parse share (another reader's).
  constructor(t, shared) {
    this.texts = t.texts;
    this.first = t.textFirst;
    this.ends = t.ends;
    this.refs = t.refs || null;
    // Each repeat's string once read, and each repeat's first string
    // number, found when first needed.
    this.shared = shared ?? { repeats: new Array(t.repeatCount || 0), origins: null };
    this.k = 0;
    this.chunk = 0;
    this.pos = 0;
  }

  // Reads on from string k.
  seek(k) {
    const { first } = this;
    const last = first.length - 2;  // the last chunk
    if (first[this.chunk] > k || (this.chunk < last && first[this.chunk + 1] <= k)) {
      let lo = 0;  // the last chunk whose first string is at or before k
      for (let hi = last; lo < hi;) {
        const mid = (lo + hi + 1) >> 1;
        if (first[mid] <= k) lo = mid;
        else hi = mid - 1;
      }
      this.chunk = lo;
    }
    this.k = k;
    this.pos = k === first[this.chunk] ? 0 : this.ends[k - 1];
  }

  // The next string.
  next() {
    const k = this.k++;
    const { first } = this;
    if (k === first[this.chunk + 1] && this.chunk + 2 < first.length) {
      ++this.chunk;
      this.pos = 0;
    }
    const ref = this.refs === null ? 0 : this.refs[k];
    if (ref < 0) return this.repeat(-ref - 1);
    const end = this.ends[k];
    const s = this.texts[this.chunk].slice(this.pos, end);
    this.pos = end;
    if (ref > 0) this.shared.repeats[ref - 1] ??= s;
    return s;
  }

  repeat(r) {
    const { shared } = this;
    const known = shared.repeats[r];
    if (known !== undefined) return known;
    if (shared.origins === null) {
      const { refs } = this;
      shared.origins = new Uint32Array(shared.repeats.length);
      for (let k = 0; k < refs.length; ++k) if (refs[k] > 0) shared.origins[refs[k] - 1] = k;
    }
    const { k, chunk, pos } = this;
    this.seek(shared.origins[r]);
    const s = this.next();
    this.k = k;
    this.chunk = chunk;
    this.pos = pos;
    return s;
  }
}

// An object of `count` pairs from pair `p` on: values from `strings`, keys
// from the keys and keyIds of the tables.
function readPairs(strings, { keys, keyIds }, p, count) {
  const obj = {};
  for (const last = p + count; p < last; ++p) {
    const id = keyIds[p];
    if (id === 0xffffffff) continue;
    const key = keys[id];
    if (key === '__proto__') {
      Object.defineProperty(obj, key, { value: strings.next(), writable: true, enumerable: true, configurable: true });
    } else {
      obj[key] = strings.next();
    }
  }
  return obj;
}

const readList = (strings, count) => {
  const list = new Array(count);
  for (let r = 0; r < count; ++r) list[r] = strings.next();
  return list;
};

const readRecords = (strings, count, tagged) => {
  const list = new Array(count);
  for (let r = 0; r < count; ++r) {
    list[r] = tagged ? { tag: strings.next(), key: strings.next(), value: strings.next() }
      : { key: strings.next(), value: strings.next() };
  }
  return list;
};

// Gives `cls` an accessor for each of `names` over the object part(this).
function accessors(cls, names, part) {
  for (const name of names) {
    Object.defineProperty(cls.prototype, name, {
      get() { return part(this)[name]; },
      set(value) { part(this)[name] = value; },
      configurable: true,
    });
  }
}

const inspect = Symbol.for('nodejs.util.inspect.custom');

// The first argument of the Item constructor for an item of a parse.
const fromParse = Symbol('kavlo.fromParse');

// The members of an item read from the parse together when one is first
// asked for, in the full document's order.
const restNames = ['attrs', 'options', 'url', 'headers', 'alternates', 'label', 'group', 'groups', 'http', 'catchup'];

/** One playlist entry, named as the library's full document names them
 *  (camelCase): location, title, durationMs, releaseDate, attrs and line,
 *  and options, url, headers, alternates, label, group, groups, http and
 *  catchup, undefined when the entry has none. durationMs, releaseDate and
 *  line are its own properties; an entry of a parse reads the others from
 *  it when first asked for (location and title each, the rest together).
 *  All may be set. toJSON() gives them as a plain object, which
 *  JSON.stringify() and console.log() show. The getters tvg, groupTitle,
 *  timeshift and lang are a convenience view for code written against the
 *  JavaScript IPTV parsers ("" where nothing is). */
class Item {
  #source = null;  // the parse of an entry that one made, until all is read
  #index = 0;
  #read = 3;  // bits: 1 location and 2 title are read (or set)
  #location;
  #title;
  #rest = null;

  constructor(location, title, durationMs, releaseDate, attrs, line) {
    this.durationMs = durationMs;
    this.releaseDate = releaseDate;
    this.line = line;
    if (location === fromParse) {
      // (fromParse, the parse, durationMs, releaseDate, the item's number, line)
      this.#source = title;
      this.#index = attrs;
      this.#read = 0;
      return;
    }
    this.#location = location;
    this.#title = title;
    this.#rest = { attrs };
  }

  // Lets the parse go once nothing more is read from it.
  #got(bit) {
    this.#read |= bit;
    if (this.#read === 3 && this.#rest !== null) this.#source = null;
  }

  get location() {
    if ((this.#read & 1) === 0) this.#location = this.#source.string(this.#index, 1), this.#got(1);
    return this.#location;
  }

  set location(value) {
    this.#location = value;
    this.#got(1);
  }

  get title() {
    if ((this.#read & 2) === 0) this.#title = this.#source.string(this.#index, 0), this.#got(2);
    return this.#title;
  }

  set title(value) {
    this.#title = value;
    this.#got(2);
  }

  static {
    accessors(Item, restNames, (item) => {
      if (item.#rest === null) item.#rest = item.#source.rest(item.#index), item.#got(0);
      return item.#rest;
    });
  }

  /** The entry as a plain object: the members it has, in the full
   *  document's order (what JSON.stringify writes). */
  toJSON() {
    const o = { location: this.location, title: this.title, durationMs: this.durationMs,
      releaseDate: this.releaseDate, attrs: this.attrs, line: this.line };
    for (const name of restNames) if (name !== 'attrs' && this[name] !== undefined) o[name] = this[name];
    return o;
  }

  [inspect]() {
    return this.toJSON();
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
const trackNames = ['number', 'title', 'performer', 'songwriter', 'isrc', 'file', 'flags', 'datatype', 'pregap',
  'postgap', 'rem', 'indices'];

/** One TRACK of a CUE sheet, read from the parse when first asked for:
 *  number, title, performer, songwriter, isrc, file, flags, datatype
 *  (null when the track has none), pregap and postgap (frames, null when
 *  none), rem ({key, value} list), indices ({number, frames, ms} list).
 *  toJSON() gives them as a plain object. */
class Track {
  #source;
  #index;
  #members = null;

  constructor(source, index) {
    this.#source = source;
    this.#index = index;
  }

  static {
    accessors(Track, trackNames, (track) => {
      if (track.#members === null) {
        track.#members = track.#source.track(track.#index);
        track.#source = null;
      }
      return track.#members;
    });
  }

  toJSON() {
    const o = {};
    for (const name of trackNames) o[name] = this[name];
    return o;
  }

  [inspect]() {
    return this.toJSON();
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
  const strings = new Strings(t);
  const { keyIds, durations, releaseDates, lines, itemMasks, attrCounts, optionCounts, headerCounts,
    alternateCounts, groupCounts, httpCounts } = t;
  // How many of `count` pairs from `p` have a value among the strings.
  const valued = (p, count) => {
    let n = 0;
    for (const last = p + count; p < last; ++p) if (keyIds[p] !== 0xffffffff) ++n;
    return n;
  };
  // The members of item i, read when first asked for with a reader of
  // their own: its first string and pair are kept.
  const firstStrings = new Uint32Array(durations.length);
  const firstPairs = new Uint32Array(durations.length);
  const later = new Strings(t, strings.shared);
  const source = {
    // String d of item i (0 its title, 1 its location).
    string(i, d) {
      later.seek(firstStrings[i] + d);
      return later.next();
    },
    rest(i) {
      later.seek(firstStrings[i] + 2);
      let p = firstPairs[i];
      const m = { attrs: readPairs(later, t, p, attrCounts[i]) };
      p += attrCounts[i];
      if (optionCounts[i]) m.options = readRecords(later, optionCounts[i], true);
      const mask = itemMasks[i];
      if (mask & 1) m.url = later.next();
      if (headerCounts[i]) m.headers = readPairs(later, t, p, headerCounts[i]);
      p += headerCounts[i];
      if (alternateCounts[i]) m.alternates = readList(later, alternateCounts[i]);
      if (mask & 4) m.label = later.next();
      if (mask & 2) m.group = later.next();
      if (groupCounts[i]) m.groups = readList(later, groupCounts[i]);
      if (httpCounts[i]) m.http = readPairs(later, t, p, httpCounts[i]);
      if (mask & 0x78) {
        const catchup = {};
        if (mask & 8) catchup.mode = later.next();
        if (mask & 16) catchup.source = later.next();
        if (mask & 32) catchup.days = later.next();
        if (mask & 64) catchup.shift = later.next();
        m.catchup = catchup;
      }
      return m;
    },
  };

  // Where the strings and pairs of each item begin: each bit of its mask is
  // one string.
  const items = new Array(durations.length);
  let k = 0;
  let p = 0;
  for (let i = 0; i < items.length; ++i) {
    // A line as a small integer where it is one: a double would be kept
    // boxed, one allocation more per item.
    const line = lines[i] < 0x40000000 ? lines[i] | 0 : lines[i];
    items[i] = new Item(fromParse, source, durations[i], releaseDates[i], i, line);
    firstStrings[i] = k;
    firstPairs[i] = p;
    const pairs = attrCounts[i] + headerCounts[i] + httpCounts[i];
    k += 2 + valued(p, pairs) + 3 * optionCounts[i] + alternateCounts[i] + groupCounts[i];
    for (let mask = itemMasks[i]; mask; mask &= mask - 1) ++k;
    p += pairs;
    if ((i & sliceMask) === sliceMask) yield;
  }
  strings.seek(k);
  const header = readPairs(strings, t, p, t.headerAttrCount);

  let cue = null;
  if (t.cue) {
    const field = (mask, bit) => (mask & bit ? strings.next() : null);
    const m = t.sheetMask;
    cue = { title: field(m, 1), performer: field(m, 2), songwriter: field(m, 4), catalog: field(m, 8),
      cdtextfile: field(m, 16), rem: readRecords(strings, t.sheetRemCount, false), tracks: null };
    // Where the strings and indices of each track begin; each bit of its
    // mask is one string.
    const { trackNumbers, trackMasks, pregaps, postgaps, trackRemCounts, indexCounts, indexNumbers, indexFrames,
      indexMs } = t;
    const firstTrackStrings = new Uint32Array(trackNumbers.length);
    const firstIndices = new Uint32Array(trackNumbers.length);
    const tracksRead = new Strings(t, strings.shared);
    const tracks = new Array(trackNumbers.length);
    const trackSource = {
      track(n) {
        tracksRead.seek(firstTrackStrings[n]);
        const tm = trackMasks[n];
        const on = (bit) => (tm & bit ? tracksRead.next() : null);
        const track = { number: trackNumbers[n], title: on(1), performer: on(2), songwriter: on(4), isrc: on(8),
          file: on(16), flags: on(32), datatype: on(64), pregap: pregaps[n] < 0 ? null : pregaps[n],
          postgap: postgaps[n] < 0 ? null : postgaps[n], rem: readRecords(tracksRead, trackRemCounts[n], false),
          indices: new Array(indexCounts[n]) };
        for (let j = 0, x = firstIndices[n]; j < track.indices.length; ++j, ++x) {
          track.indices[j] = { number: indexNumbers[x], frames: indexFrames[x], ms: indexMs[x] };
        }
        return track;
      },
    };
    let k = strings.k;
    for (let n = 0, x = 0; n < tracks.length; ++n) {
      tracks[n] = new Track(trackSource, n);
      firstTrackStrings[n] = k;
      firstIndices[n] = x;
      x += indexCounts[n];
      k += 2 * trackRemCounts[n];
      for (let tm = trackMasks[n]; tm; tm &= tm - 1) ++k;
      if ((n & sliceMask) === sliceMask) yield;
    }
    strings.seek(k);
    cue.tracks = tracks;
  }
  const warnings = readList(strings, t.warningCount);
  const title = t.hasTitle ? strings.next() : null;
  const epg = readList(strings, t.epgCount);
  const { diagnosticLines } = t;
  const diagnostics = new Array(diagnosticLines.length);
  for (let d = 0; d < diagnostics.length; ++d) {
    diagnostics[d] = { line: diagnosticLines[d], message: strings.next(), subject: strings.next() };
  }
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
