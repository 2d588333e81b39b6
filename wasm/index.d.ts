// Type declarations of the kavlo-wasm package. The result objects are those
// of the Node.js package (its lib/result.js).

/** Names of the playlist formats, as the library gives them. */
export type FormatName = 'm3u' | 'm3u8-hls' | 'streaming-list' | 'cue' | 'unknown';

/** The bytes of a playlist, or a string, which is text already. */
export type Input = string | Uint8Array | Int8Array | Uint8ClampedArray | ArrayBuffer | DataView;

export interface ParseOptions {
  /** "m3u", "streaming-list", "cue" (or "m3u8-hls", refused) in any letter
   *  case, a format code from -1 to 3, or left out / "auto" to detect it. */
  format?: 'auto' | Exclude<FormatName, 'unknown'> | number | null;
  /** The bytes' encoding ("utf-16le", "gbk", "cp1252", "shift_jis", any
   *  name the module's iconv knows). Left out or "auto": a byte-order mark
   *  is honoured, valid UTF-8 taken as it is, other text read in the
   *  encoding the library guesses, which without a detector (this build)
   *  is the library's chain. "" or "chain": the chain, GBK, then CP1252,
   *  then Latin-1, with an "encoding: ..." warning. Not for a string. */
  encoding?: string | null;
}

/** Status codes of the library. */
export declare const Status: {
  readonly OK: 0;
  readonly ERR_DECODE: 1;
  readonly ERR_FORMAT: 3;
  readonly ERR_INVALID: 4;
  readonly ERR_IO: 5;
  readonly ERR_NOMEM: 6;
};

/** A failed parse: the library's status code and message. */
export declare class KavloError extends Error {
  readonly name: 'KavloError';
  readonly status: number;
  /** The status as a name: "ERR_DECODE", "ERR_FORMAT", ... */
  readonly code: string;
  constructor(status: number, message: string);
}

export interface ItemOption {
  tag: string;
  key: string;
  value: string;
}

/** The catch-up settings of an entry: only those set are there. */
export interface Catchup {
  /** The catchup attribute ("default", "append", "shift", ...). */
  mode?: string;
  /** catchup-source: the address template. */
  source?: string;
  /** catchup-days. */
  days?: string;
  /** tvg-shift. */
  shift?: string;
}

/** A warning with its 1-based line (0 for the decoding warnings) and
 *  subject (the tag, key, URL or encoding; "" when none), or what the
 *  parse lost without a warning (caps reached, a line cut at a NUL). */
export interface Diagnostic {
  line: number;
  message: string;
  subject: string;
}

/** A REM line of a CUE sheet: its first word and the rest. */
export interface Rem {
  key: string;
  value: string;
}

/** One playlist entry. durationMs, releaseDate and line are its own
 *  properties; an entry of a parse reads the others from it when first
 *  asked for (they may be set, and read as set afterwards). */
export declare class Item {
  constructor(location: string, title: string, durationMs: number, releaseDate: number,
    attrs: Record<string, string>, line: number);
  location: string;
  title: string;
  /** Milliseconds, -1 when unknown. */
  durationMs: number;
  /** In an IMDb date playlist (e.g. 19990331), else 0. */
  releaseDate: number;
  /** The #EXTINF attributes by key as written; of repeated keys the first. */
  attrs: Record<string, string>;
  /** 1-based line of the entry in the decoded text (a CUE sheet's TRACK line). */
  line: number;
  /** Tag lines the M3U parser ignored before the entry; left out when none. */
  options?: ItemOption[];
  /** For a location "URL|Key=Value&...": the URL and the pairs. */
  url?: string;
  headers?: Record<string, string>;
  /** In a streaming list: the other addresses of "URL#URL2#URL3", and the
   *  label of "URL$LABEL". */
  alternates?: string[];
  label?: string;
  /** In a streaming list: NAME of the last "NAME,#genre#" line before it. */
  group?: string;
  /** In an M3U list: the "#EXTGRP:" groups before the entry's location. */
  groups?: string[];
  /** The request headers a player should send, by lower-case HTTP name. */
  http?: Record<string, string>;
  /** Catch-up settings (the entry's attributes, else the #EXTM3U line's). */
  catchup?: Catchup;

  /** Value of the attribute whose key equals `key` with ASCII letters folded. */
  attr(key: string): string | undefined;
  /** The members the entry has as a plain object, in the full document's
   *  order: what JSON.stringify() writes and console.log() shows. */
  toJSON(): ItemData;
  // A convenience view for code written against the JavaScript IPTV
  // parsers ("" where there is nothing).
  readonly tvg: {
    id: string; name: string; logo: string; url: string; rec: string; shift: string;
    language: string; country: string;
  };
  /** The group-title attribute (or #EXTGRP), else the streaming group. */
  readonly groupTitle: string;
  readonly timeshift: string;
  readonly lang: string;
}

/** The data members of an entry. */
export type ItemData = Omit<Item, 'attr' | 'toJSON' | 'tvg' | 'groupTitle' | 'timeshift' | 'lang'>;

export interface CueIndex {
  number: number;
  /** CD frames, 75 a second. */
  frames: number;
  ms: number;
}

/** One TRACK of a sheet, read from the parse when first asked for. */
export interface CueTrack {
  number: number;
  title: string | null;
  performer: string | null;
  songwriter: string | null;
  isrc: string | null;
  file: string | null;
  flags: string | null;
  datatype: string | null;
  /** Frames, null when not given. */
  pregap: number | null;
  postgap: number | null;
  indices: CueIndex[];
  rem: Rem[];
  /** The members as a plain object. */
  toJSON(): Omit<CueTrack, 'toJSON'>;
}

export interface CueSheet {
  title: string | null;
  performer: string | null;
  songwriter: string | null;
  catalog: string | null;
  cdtextfile: string | null;
  rem: Rem[];
  tracks: CueTrack[];
}

/** The options of the writers. */
export interface WriteOptions {
  /** Begin with the UTF-8 byte-order mark (as U+FEFF in a string). */
  bom?: boolean | null;
  /** End every line with CR LF instead of LF. */
  crlf?: boolean | null;
  /** true: the text's bytes (Uint8Array), exactly as the library writes them,
   *  instead of a string. */
  bytes?: boolean | null;
}

/** Names of the formats text is written in, in any letter case: "txt" is
 *  a streaming list; "auto" a result's own format. Any other name throws
 *  RangeError. */
export type WriteFormat = 'auto' | 'm3u' | 'streaming-list' | 'txt' | 'cue';

export interface TextOptions extends WriteOptions {
  /** Left out: "auto". "cue" only of a CUE result (else KavloError
   *  ERR_FORMAT). */
  format?: WriteFormat | string | null;
}

/** A list entry to write: a result's Item fits, and so does a plain
 *  object. */
export interface EntryInput {
  /** Required: something left after trimming, not beginning with "#". */
  location: string;
  title?: string | null;
  /** Milliseconds, -1 or left out for none; written in whole seconds, at
   *  most 2147483000. */
  durationMs?: number | null;
  /** The #EXTINF attributes, in the order of the object's keys or of the
   *  pairs. */
  attrs?: Record<string, string> | ReadonlyArray<readonly [string, string]> | null;
  /** Tag lines written before the #EXTINF line: "#TAG:KEY=VALUE". */
  options?: ReadonlyArray<{ tag: string; key?: string | null; value?: string | null }> | null;
  /** The group: the value of the group-title attribute (replacing one in
   *  attrs); a "NAME,#genre#" line in a streaming list. */
  group?: string | null;
}

export interface ListOptions extends WriteOptions {
  /** "m3u" (left out, or "auto") or "streaming-list" / "txt". */
  format?: 'auto' | 'm3u' | 'streaming-list' | 'txt' | string | null;
  /** The attributes of the #EXTM3U line. */
  header?: Record<string, string> | ReadonlyArray<readonly [string, string]> | null;
}

/** The outcome of a parse: a copy, unchanged by later parses. */
export declare class Result {
  static version: string;
  format: FormatName;
  imdbDatePlaylist: boolean;
  items: Item[];
  /** After a CUE parse, else null. */
  cue: CueSheet | null;
  /** Content problems that did not fail the parse ("m3u: ...", ...). */
  warnings: string[];
  /** Attributes of the #EXTM3U line. */
  header: Record<string, string>;
  /** The encoding the text was read in: "UTF-8", "UTF-16LE", "GBK", "CP1252", ... */
  encoding: string | null;
  /** The text of the first "#PLAYLIST:" line, null when none. */
  title: string | null;
  /** The EPG addresses of the #EXTM3U line (x-tvg-url and url-tvg, split
   *  at commas), [] when none. */
  epg: string[];
  /** Every warning with its line and subject, and what the parse lost
   *  without one; [] when none. */
  diagnostics: Diagnostic[];
  /** The library's full JSON document, member for member. */
  toJSON(): unknown;
  /** The parsed playlist written back as playlist text by the library's
   *  writer, as the parse gave it (changes made to the objects since do not
   *  show: write() writes those). Parsing the text again in that format
   *  gives the same result, line numbers, warnings and diagnostics aside.
   *  KavloError ERR_FORMAT when the result cannot be written so. */
  toText(options: TextOptions & { bytes: true }): Uint8Array;
  toText(options?: TextOptions | null): string;
  /** toText() in the M3U format. */
  toM3U(options: WriteOptions & { bytes: true }): Uint8Array;
  toM3U(options?: WriteOptions | null): string;
}

/** The library's version, "MAJOR.MINOR.PATCH". */
export declare const version: string;
/** Parses a playlist in memory. Throws KavloError when the parse fails. */
export declare function parse(input: Input, options?: ParseOptions | null): Result;
/** The library's full JSON document of a parse, as text. */
export declare function parseToJson(input: Input, options?: ParseOptions | null): string;
/** The format of a text, without parsing it. */
export declare function detect(input: Input): FormatName;

/** Playlist text of a list of entries (made by a program, or a result's
 *  items, edited), through the library's builder and writer. TypeError or
 *  RangeError for a value of the wrong type; KavloError ERR_INVALID, its
 *  message naming the entry ("items[3]: attribute ... refused: ..."), for
 *  one the builder refuses (see EntryInput). */
export declare function write(items: Iterable<EntryInput>, options: ListOptions & { bytes: true }): Uint8Array;
export declare function write(items: Iterable<EntryInput>, options?: ListOptions | null): string;
/** Gives what the module keeps for the next parse back to its allocator
 *  (the instance's memory itself never shrinks). */
export declare function release(): void;
