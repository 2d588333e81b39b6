// The WebAssembly module and the way into it: loads kavlo-core.wasm, writes
// inputs into its memory, runs the parse and copies the result out as the
// plain tables the result builder reads. Nothing here depends on a
// particular JavaScript runtime: the module's bytes come from fetch(), or
// from the file system where a runtime has one and fetch() cannot read
// files (Node.js).
import createKavloCore from '../dist/kavlo-core.mjs';

const wasmUrl = new URL('../dist/kavlo-core.wasm', import.meta.url);

// The tables of module.cpp's Tables, in its order, with their element type.
const tableTypes = [
  ['bytes', Uint8Array],
  ['utf16', Uint16Array],
  ['chunkOffsets', Uint32Array],
  ['chunkSizes', Uint32Array],
  ['chunkWide', Uint8Array],
  ['textFirst', Uint32Array],
  ['ends', Uint32Array],
  ['refs', Int32Array],
  ['keyBytes', Uint8Array],
  ['keyEnds', Uint32Array],
  ['keyIds', Uint32Array],
  ['durations', Int32Array],
  ['releaseDates', Int32Array],
  ['lines', Float64Array],
  ['itemMasks', Uint8Array],
  ['attrCounts', Uint32Array],
  ['optionCounts', Uint32Array],
  ['headerCounts', Uint32Array],
  ['alternateCounts', Uint32Array],
  ['groupCounts', Uint32Array],
  ['httpCounts', Uint32Array],
  ['trackNumbers', Int32Array],
  ['trackMasks', Uint8Array],
  ['pregaps', Float64Array],
  ['postgaps', Float64Array],
  ['trackRemCounts', Uint32Array],
  ['indexCounts', Uint32Array],
  ['indexNumbers', Int32Array],
  ['indexFrames', Float64Array],
  ['indexMs', Int32Array],
  ['diagnosticLines', Float64Array],
];
const scalarNames = ['format', 'imdb', 'cue', 'sheetMask', 'sheetRemCount', 'warningCount', 'repeatCount',
  'headerAttrCount', 'hasTitle', 'epgCount'];

const formatNames = ['m3u', 'm3u8-hls', 'streaming-list', 'cue', 'unknown'];

// The module's bytes where fetch() cannot have them: a file: URL under
// Node.js (whose fetch reads no files); undefined elsewhere.
async function wasmBinary() {
  if (wasmUrl.protocol !== 'file:' || typeof process !== 'object' || !process.versions?.node) return undefined;
  // Hidden from bundlers, which need not resolve it for a browser.
  const { readFile } = await import(/* webpackIgnore: true */ /* @vite-ignore */ 'node:fs/promises');
  return readFile(wasmUrl);
}

const core = await createKavloCore({
  wasmBinary: await wasmBinary(),
  locateFile: (file) => new URL(file, wasmUrl).href,
});

const utf8 = new TextDecoder('utf-8');
// Written text keeps the byte-order mark that the bom option asks for.
const utf8Text = new TextDecoder('utf-8', { ignoreBOM: true });
const utf16 = new TextDecoder('utf-16le');
const encoder = new TextEncoder();

// The memory's views change when it grows: always take them afresh.
const heap = () => core.HEAPU8;
// Addresses come back from the module as signed 32-bit numbers; the memory
// may be larger than 2 GiB.
const alloc = (n) => core._kavlo_wasm_alloc(n) >>> 0;

function cString(address) {
  const ptr = address >>> 0;
  if (!ptr) return null;
  const h = heap();
  const end = h.indexOf(0, ptr);
  return utf8.decode(h.subarray(ptr, end < 0 ? h.length : end));
}

// One reusable block of the heap for inputs, and a small one for the
// encoding's name.
let input = 0;
let inputCap = 0;

function reserve(bytes) {
  if (bytes <= inputCap) return input;
  if (input) core._kavlo_wasm_free(input);
  input = 0;
  inputCap = 0;
  const cap = Math.max(bytes, 4096);
  const p = alloc(cap);
  if (!p) return 0;
  input = p;
  inputCap = cap;
  return p;
}

// Grows the input block to `bytes`, keeping its first `keep` bytes.
function regrow(bytes, keep) {
  const p = alloc(bytes);
  if (!p) return 0;
  heap().copyWithin(p, input, input + keep);
  core._kavlo_wasm_free(input);
  input = p;
  inputCap = bytes;
  return p;
}

function isBytes(v) {
  return v instanceof Uint8Array || v instanceof Int8Array || v instanceof Uint8ClampedArray;
}

// Writes the input into the heap: a string as UTF-8, the bytes of a
// Uint8Array (a Buffer too), Int8Array, Uint8ClampedArray, ArrayBuffer or
// DataView as they are. Returns [pointer, length], pointer 0 when memory
// ran out.
export function write(value) {
  if (typeof value === 'string') {
    // Room for every unit as one byte, the exact size of ASCII text; what
    // does not fit then gets the most it can need.
    let p = reserve(value.length + 1);
    if (!p) return [0, 0];
    let { read, written } = encoder.encodeInto(value, heap().subarray(p, p + value.length));
    if (read < value.length) {
      p = regrow(written + 3 * (value.length - read) + 1, written);
      if (!p) return [0, 0];
      const rest = encoder.encodeInto(value.slice(read), heap().subarray(p + written, p + inputCap));
      written += rest.written;
    }
    return [p, written];
  }
  let bytes;
  if (isBytes(value) || value instanceof DataView) {
    bytes = new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  } else if (value instanceof ArrayBuffer ||
             (typeof SharedArrayBuffer === 'function' && value instanceof SharedArrayBuffer)) {
    bytes = new Uint8Array(value);
  } else {
    throw new TypeError('input must be a string, Uint8Array (Buffer), ArrayBuffer or DataView');
  }
  const p = reserve(bytes.length + 1);
  if (!p) return [0, 0];
  heap().set(bytes, p);
  return [p, bytes.length];
}

// A C string in the heap for the encoding's name (at most a few bytes);
// the caller frees it.
function writeName(name) {
  const bytes = encoder.encode(name);
  const p = alloc(bytes.length + 1);
  if (!p) return 0;
  heap().set(bytes, p);
  heap()[p + bytes.length] = 0;
  return p;
}

/** The library's version, "MAJOR.MINOR.PATCH". */
export const version = cString(core._kavlo_version());

/** Status code of an exhausted memory, for the caller's error. */
export const ERR_NOMEM = 6;

function copyTables() {
  const at = core._kavlo_wasm_tables() >>> 2;
  const words = core.HEAPU32;
  const raw = {};
  for (let t = 0; t < tableTypes.length; ++t) {
    const [name, Type] = tableTypes[t];
    const ptr = words[at + 2 * t];
    const count = words[at + 2 * t + 1];
    // A copy: the tables are rewritten by the next parse.
    raw[name] = count ? new Type(heap().buffer, ptr, count).slice() : new Type(0);
  }
  const scalars = at + 2 * tableTypes.length;
  scalarNames.forEach((name, s) => { raw[name] = core.HEAP32[scalars + s]; });
  return raw;
}

// The tables as the result builder takes them: the strings as a few large
// JavaScript strings (`texts`, string k of chunk c ending at ends[k] in
// texts[c]), the keys as strings.
function tablesOut(raw) {
  const { bytes, utf16: units, chunkOffsets, chunkSizes, chunkWide } = raw;
  const texts = new Array(chunkOffsets.length);
  for (let c = 0; c < texts.length; ++c) {
    const from = chunkOffsets[c];
    const to = from + chunkSizes[c];
    texts[c] = chunkWide[c] ? utf16.decode(units.subarray(from, to)) : utf8.decode(bytes.subarray(from, to));
  }
  const keys = new Array(raw.keyEnds.length);
  for (let k = 0, from = 0; k < keys.length; ++k) {
    keys[k] = utf8.decode(raw.keyBytes.subarray(from, raw.keyEnds[k]));
    from = raw.keyEnds[k];
  }
  delete raw.bytes;
  delete raw.utf16;
  delete raw.chunkOffsets;
  delete raw.chunkSizes;
  delete raw.chunkWide;
  delete raw.keyBytes;
  delete raw.keyEnds;
  raw.texts = texts;
  raw.keys = keys;
  raw.format = formatNames[raw.format] ?? 'unknown';
  raw.imdb = raw.imdb !== 0;
  raw.cue = raw.cue !== 0;
  raw.hasTitle = raw.hasTitle !== 0;
  return raw;
}

// Writes the input and the encoding's name into the heap and parses them
// into the module's playlist; `tables` asks for the result's tables too.
function run(value, format, encoding, tables) {
  const [ptr, len] = write(value);
  if (!ptr) return ERR_NOMEM;
  let name = 0;
  if (encoding !== null && encoding !== undefined) {
    name = writeName(encoding);
    if (!name) return ERR_NOMEM;
  }
  try {
    return core._kavlo_wasm_parse(ptr, len, format, name, tables ? 1 : 0);
  } finally {
    if (name) core._kavlo_wasm_free(name);
  }
}

function failure(status) {
  const error = status === ERR_NOMEM ? '' : cString(core._kavlo_playlist_last_error(core._kavlo_wasm_playlist()));
  return { status, error: error ?? '' };
}

/** Parses `value` (see write()) in `format` (a format code) with the
 *  encoding name `encoding` (null for none). Returns the result's tables,
 *  status 0, or {status, error} with the library's message. */
export function parse(value, format, encoding) {
  const status = run(value, format, encoding, true);
  if (status !== 0) return failure(status);
  const tables = tablesOut(copyTables());
  tables.status = 0;
  tables.encoding = cString(core._kavlo_playlist_encoding(core._kavlo_wasm_playlist()));
  return tables;
}

/** As parse(), with the full document's text (`json`) instead of the
 *  tables; a failed parse has its document too. */
export function json(value, format, encoding) {
  const status = run(value, format, encoding, false);
  const doc = cString(core._kavlo_playlist_json_full(core._kavlo_wasm_playlist()));
  return { ...(status === 0 ? { status, error: '' } : failure(status)), json: doc };
}

/** The format name of `value` without parsing it; `encoding` as for
 *  parse(). */
export function detect(value, encoding) {
  const [ptr, len] = write(value);
  if (!ptr) return 'unknown';
  let name = 0;
  if (encoding !== null && encoding !== undefined) {
    name = writeName(encoding);
    if (!name) return 'unknown';
  }
  try {
    return cString(core._kavlo_format_name(core._kavlo_detect_text(ptr, len, name)));
  } finally {
    if (name) core._kavlo_wasm_free(name);
  }
}

/** What toText() needs of an input to parse it again: a string as it is
 *  (strings do not change), a copy of bytes (which may). */
export function keep(value) {
  if (typeof value === 'string') return value;
  if (isBytes(value) || value instanceof DataView) {
    return new Uint8Array(value.buffer, value.byteOffset, value.byteLength).slice();
  }
  return new Uint8Array(value).slice();
}

// The text of the last write (kavlo_wasm_written()), as a string or bytes.
function writtenText(bytes) {
  const at = core._kavlo_wasm_written() >>> 2;
  const ptr = core.HEAPU32[at];
  const view = heap().subarray(ptr, ptr + core.HEAPU32[at + 1]);
  return bytes ? view.slice() : utf8Text.decode(view);
}

/** Parses `value` again as parse() did (`format`, `encoding`) and writes
 *  it in `writeFormat` with `flags`: the text, or the library's status. */
export function rewrite(value, format, encoding, writeFormat, flags, bytes) {
  const status = run(value, format, encoding, false);
  if (status !== 0) return status;
  const rc = core._kavlo_wasm_write(writeFormat, flags);
  return rc === 0 ? writtenText(bytes) : rc;
}

/** The text of a list laid out as lib/write.js lays it out, or the
 *  builder's refusal {status, item, what, name}. */
export function writeList(text, shape, durations, format, flags, bytes) {
  const [ptr, len] = write(text);
  if (!ptr) return { status: ERR_NOMEM, item: -1, what: '', name: '' };
  // Each in a block of its own, 8-byte aligned as malloc gives it.
  const shapeAt = alloc(shape.byteLength + 8);
  const durationsAt = alloc(durations.byteLength + 8);
  try {
    if (!shapeAt || !durationsAt) return { status: ERR_NOMEM, item: -1, what: '', name: '' };
    heap().set(new Uint8Array(shape.buffer, shape.byteOffset, shape.byteLength), shapeAt);
    heap().set(new Uint8Array(durations.buffer, durations.byteOffset, durations.byteLength), durationsAt);
    const rc = core._kavlo_wasm_build(ptr, len, shapeAt, shape.length, durationsAt, durations.length, format, flags);
    if (rc === 0) return writtenText(bytes);
    const at = core._kavlo_wasm_written() >>> 2;
    return { status: rc, item: core.HEAP32[at + 2], what: cString(core.HEAPU32[at + 3]) ?? '',
      name: cString(core.HEAPU32[at + 4]) ?? '' };
  } finally {
    if (shapeAt) core._kavlo_wasm_free(shapeAt);
    if (durationsAt) core._kavlo_wasm_free(durationsAt);
  }
}

/** Gives back what the module keeps for the next parse (its playlist, the
 *  tables and the input block) to the module's allocator. The memory of a
 *  WebAssembly instance does not shrink: it stays the instance's, for the
 *  parses after. */
export function release() {
  core._kavlo_wasm_release();
  if (input) core._kavlo_wasm_free(input);
  input = 0;
  inputCap = 0;
}
