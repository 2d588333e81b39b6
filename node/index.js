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

// The result keeps the parse's handle, which writes it (toText()).
function writable(result, handle) {
  return setWriter(result, (format, flags, bytes) => addon.writeHandle(handle, format, flags, bytes));
}

function made(tables) {
  const { handle } = tables;
  tables.handle = undefined;
  return writable(build(tables), handle);
}

async function madeInSlices(tables) {
  const { handle } = tables;
  tables.handle = undefined;
  return writable(await buildInSlices(tables), handle);
}

/** Parses a playlist held in memory (Buffer, TypedArray, DataView,
 *  ArrayBuffer, or a string, which is text already). */
function parse(input, options) {
  return made(settle(addon.parse(...textArgs(input, options))));
}

/** Reads a file (a string, Buffer or file: URL) and parses it. */
function parseFile(file, options) {
  return made(settle(addon.parseFile(...fileArgs(file, options))));
}

/** As parse(), on a thread of libuv's pool; several run at once. A buffer
 *  is read where it is: leave it unchanged until the promise settles. */
async function parseAsync(input, options) {
  return madeInSlices(settle(await addon.parseAsync(...textArgs(input, options))));
}

/** As parseFile(), on a thread of libuv's pool. */
async function parseFileAsync(file, options) {
  return madeInSlices(settle(await addon.parseFileAsync(...fileArgs(file, options))));
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
