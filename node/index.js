'use strict';
// kavlo for Node.js: playlist parsing (M3U and extended M3U, streaming URL
// lists, CUE sheets; HLS refused) over the kavlo engine, which the addon
// compiles in. lib/ makes the results and checks the options; this file
// joins them to the addon.
const path = require('node:path');
const addon = require(path.join(__dirname, 'build', 'Release', 'kavlo.node'));
const { Status, KavloError, Item, Result, build, buildInSlices, setWriter } = require('./lib/result');
const { textArgs, fileArgs } = require('./lib/options');
const { writeListArgs, refusal } = require('./lib/write');

Result.version = addon.version;

function settle(tables) {
  if (tables.status !== Status.OK) throw new KavloError(tables.status, tables.error);
  return tables;
}

// toText() parses the input of the result again (the same arguments) and
// writes it: the string, the bytes as they are then, the file as it is
// then.
function writable(result, [input, format, encoding], file) {
  return setWriter(result, (out, flags, bytes) => addon.writeAgain(input, file, format, encoding, out, flags, bytes));
}

const made = (tables, args, file) => writable(build(tables), args, file);
const madeInSlices = async (tables, args, file) => writable(await buildInSlices(tables), args, file);

/** Parses a playlist held in memory (Buffer, TypedArray, DataView,
 *  ArrayBuffer, or a string, which is text already). */
function parse(input, options) {
  const args = textArgs(input, options);
  return made(settle(addon.parse(...args)), args, false);
}

/** Reads a file (a string, Buffer or file: URL) and parses it. */
function parseFile(file, options) {
  const args = fileArgs(file, options);
  return made(settle(addon.parseFile(...args)), args, true);
}

/** As parse(), on a thread of libuv's pool; several run at once. A buffer
 *  is read where it is: leave it unchanged until the promise settles. */
async function parseAsync(input, options) {
  const args = textArgs(input, options);
  return madeInSlices(settle(await addon.parseAsync(...args)), args, false);
}

/** As parseFile(), on a thread of libuv's pool. */
async function parseFileAsync(file, options) {
  const args = fileArgs(file, options);
  return madeInSlices(settle(await addon.parseFileAsync(...args)), args, true);
}

/** The library's full JSON document of a parse, as text, without making
 *  JavaScript objects. */
function parseToJson(input, options) {
  const r = addon.json(...textArgs(input, options));
  if (r.status !== Status.OK) throw new KavloError(r.status, r.error);
  return r.json;
}

/** The format of a text without parsing it: "m3u", "m3u8-hls",
 *  "streaming-list", "cue" or "unknown". */
function detect(input) {
  return addon.detect(input);
}

/** Playlist text of a list of entries ({location, title, durationMs,
 *  attrs, options, group}: made by a program, or a result's items,
 *  edited), written by the library's writer: options format ("m3u", the
 *  default, or "streaming-list" / "txt"), header (the #EXTM3U attributes),
 *  bom, crlf and bytes as for Result.toText(). */
function write(items, options) {
  const [{ text, shape, durations }, format, flags, bytes] = writeListArgs(items, options);
  const out = addon.writeList(text, shape, durations, format, flags, bytes);
  if (typeof out === 'object' && !Buffer.isBuffer(out)) throw refusal(out);
  return out;
}

module.exports = {
  version: addon.version, parse, parseFile, parseAsync, parseFileAsync, parseToJson, detect, write,
  KavloError, Status, Item, Result,
};
