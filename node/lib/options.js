'use strict';
// The options of the parse functions, checked before any parse starts, as
// the arguments the engine takes: a format code and an encoding name ("" for
// the library's own chain, "auto" for its guess). No addon needed.
const { fileURLToPath } = require('node:url');

const formatCodes = Object.freeze({ auto: -1, m3u: 0, 'm3u8-hls': 1, 'streaming-list': 2, cue: 3 });

/** The format option: a name in any letter case, a code, or left out. */
function formatCode(format) {
  if (format === undefined || format === null) return formatCodes.auto;
  if (typeof format === 'number') {
    if (Number.isInteger(format) && format >= -1 && format <= 3) return format;
    throw new RangeError(`format code must be an integer from -1 to 3, not ${format}`);
  }
  if (typeof format !== 'string') throw new TypeError(`format must be a string, not ${typeof format}`);
  const name = format.toLowerCase();
  if (!Object.hasOwn(formatCodes, name)) {
    throw new RangeError(`unknown playlist format ${JSON.stringify(format)} (m3u, streaming-list, cue or auto)`);
  }
  return formatCodes[name];
}

/** The encoding option: left out (or null) is "auto"; "" and "chain" the
 *  library's own decoding; any other name goes to the library. A string
 *  input is text already and takes none. */
function encodingName(encoding, input) {
  if (encoding === undefined || encoding === null) return 'auto';
  if (typeof input === 'string') {
    throw new TypeError('encoding cannot be given for a string input, which is decoded text already; ' +
      'pass the bytes as a Buffer to name their encoding');
  }
  if (typeof encoding !== 'string') throw new TypeError(`encoding must be a string, not ${typeof encoding}`);
  if (encoding.includes('\0')) throw new RangeError('encoding must not contain NUL characters');
  return encoding.toLowerCase() === 'chain' ? '' : encoding;
}

function options(opts) {
  if (opts === undefined || opts === null) return {};
  if (typeof opts !== 'object') throw new TypeError('options must be an object');
  return opts;
}

/** [input, format code, encoding] for parse() and parseAsync(). */
function textArgs(input, opts) {
  const o = options(opts);
  return [input, formatCode(o.format), encodingName(o.encoding, input)];
}

/** [path, format code, encoding] for the file functions: a path is a string,
 *  a Buffer (its bytes, as fs takes them) or a file: URL. */
function fileArgs(file, opts) {
  const o = options(opts);
  let path = file;
  if (file instanceof URL) path = fileURLToPath(file);
  else if (typeof file !== 'string' && !Buffer.isBuffer(file)) {
    throw new TypeError('path must be a string, a Buffer or a file: URL');
  }
  return [path, formatCode(o.format), encodingName(o.encoding, null)];
}

// The formats text is written in: the library's names, and "txt" for a
// streaming list; "auto" is the result's own format.
const writeFormats = Object.freeze({ auto: -1, m3u: 0, 'streaming-list': 2, txt: 2, cue: 3 });
const writeFlags = Object.freeze({ bom: 1, crlf: 2 });

/** [format code, flags, bytes] of the options of toText() and write():
 *  format (a name of writeFormats in any letter case; `fallback` when left
 *  out), bom and crlf (booleans: a UTF-8 byte-order mark first, CR LF line
 *  ends), bytes (a boolean: the text's bytes rather than a string). */
function writeArgs(opts, fallback) {
  const o = options(opts);
  let format = fallback;
  if (o.format !== undefined && o.format !== null) {
    if (typeof o.format !== 'string') throw new TypeError(`format must be a string, not ${typeof o.format}`);
    const name = o.format.toLowerCase();
    if (!Object.hasOwn(writeFormats, name)) {
      throw new RangeError(`cannot write the format ${JSON.stringify(o.format)} (m3u, streaming-list, txt, cue or auto)`);
    }
    format = writeFormats[name];
  }
  let flags = 0;
  for (const name of ['bom', 'crlf', 'bytes']) {
    const v = o[name];
    if (v === undefined || v === null) continue;
    if (typeof v !== 'boolean') throw new TypeError(`${name} must be a boolean, not ${typeof v}`);
    if (v && name !== 'bytes') flags |= writeFlags[name];
  }
  return [format, flags, o.bytes === true];
}

module.exports = { formatCode, encodingName, textArgs, fileArgs, writeArgs };
