// kavlo for every JavaScript runtime: playlist parsing (M3U and extended
// M3U, streaming URL lists, CUE sheets; HLS refused) by the kavlo engine
// compiled to WebAssembly. The results, their convenience views, the
// errors and the option checks are those of the Node.js package (its
// lib/, made into ES modules in dist/lib/); lib/core.js runs the engine.
import * as core from './lib/core.js';
import { Status, KavloError, Item, Result, build, setWriter } from './dist/lib/result.js';
import { textArgs } from './dist/lib/options.js';
import { writeListArgs, refusal } from './dist/lib/write.js';

Result.version = core.version;

/** The library's version, "MAJOR.MINOR.PATCH". */
export const version = core.version;

function settle(r) {
  if (r.status !== Status.OK) throw new KavloError(r.status, r.error);
  return r;
}

/** Parses a playlist held in memory: a Uint8Array (a Buffer too),
 *  ArrayBuffer or DataView of its bytes, or a string, which is text
 *  already. Options: format ("m3u", "streaming-list", "cue" or a code;
 *  detected when left out) and encoding (the bytes' encoding; left out,
 *  "auto"; "" or "chain" for the library's own decoding). Throws
 *  KavloError when the parse fails. */
export function parse(input, options) {
  const [value, format, encoding] = textArgs(input, options);
  const result = build(settle(core.parse(value, format, encoding)));
  // The module holds one parse at a time: toText() parses the input again.
  const kept = core.keep(value);
  return setWriter(result, (writeFormat, flags, bytes) => core.rewrite(kept, format, encoding, writeFormat, flags, bytes));
}

/** Playlist text of a list of entries ({location, title, durationMs,
 *  attrs, options, group}), by the library's writer: options format
 *  ("m3u", the default, or "streaming-list" / "txt"), header (the #EXTM3U
 *  attributes), bom, crlf and bytes as for Result.toText(). */
export function write(items, options) {
  const [{ text, shape, durations }, format, flags, bytes] = writeListArgs(items, options);
  const out = core.writeList(text, shape, durations, format, flags, bytes);
  if (typeof out === 'object' && !(out instanceof Uint8Array)) throw refusal(out);
  return out;
}

/** The library's full JSON document of a parse, as text, without making
 *  JavaScript objects. */
export function parseToJson(input, options) {
  return settle(core.json(...textArgs(input, options))).json;
}

/** The format of a text without parsing it: "m3u", "m3u8-hls",
 *  "streaming-list", "cue" or "unknown". */
export function detect(input) {
  return core.detect(input, null);
}

/** Gives what the module keeps for the next parse (a few times the size of
 *  the last input) back to its allocator. The memory of a WebAssembly
 *  instance never shrinks, so this makes room for other parses, not for the
 *  rest of the page. Results already returned are not affected. */
export function release() {
  core.release();
}

export { KavloError, Status, Item, Result };
