// Type declarations of the kavlo package.

/** Names of the playlist formats, as the library gives them. */
export type FormatName = 'm3u' | 'm3u8-hls' | 'streaming-list' | 'cue' | 'unknown';

/** Input of parse(), parseAsync(), parseToJson() and detect(): bytes
 *  (the bytes of any TypedArray or DataView), or a string, which is text. */
export type Input = string | ArrayBufferView | ArrayBuffer;

/** A file path as fs takes it: a string, a Buffer of its bytes, or a file: URL. */
export type PathLike = string | Buffer | URL;

export interface ParseOptions {
  /** "m3u", "streaming-list", "cue" (or "m3u8-hls", refused), in any letter
   *  case; a format code (-1 to 3); or left out / "auto" to detect it. Any
   *  other name throws RangeError, any other type TypeError. */
  format?: 'auto' | Exclude<FormatName, 'unknown'> | Uppercase<Exclude<FormatName, 'unknown'>> | string | number | null;
  /** How the bytes are decoded. Left out (or null): "auto", the library's
   *  guess (a byte-order mark and UTF-8 read as they are, other text in the
   *  encoding the library finds, its chain otherwise). "" or "chain": the
   *  library's own chain (byte-order mark, UTF-8, then GBK, CP1252 and
   *  Latin-1 with an "encoding: ..." warning). Any other name ("gbk",
   *  "utf-16le", "cp1252", any name iconv knows) is the encoding.
   *  Result.encoding tells which one was used. A string input is text
   *  already: naming an encoding with it throws TypeError. */
  encoding?: string | null;
}

/** The options of the file functions: the same. */
export type FileOptions = ParseOptions;

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
  /** The status as a name: "ERR_DECODE", "ERR_FORMAT", "ERR_IO", ... */
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
  /** Path or URL; "" when the playlist gave none. */
  location: string;
  /** "" when the playlist gave none. */
  title: string;
  /** Duration in milliseconds, -1 when unknown. */
  durationMs: number;
  /** Release date (e.g. 19990331) in an IMDb date playlist, else 0. */
  releaseDate: number;
  /** The #EXTINF attributes by key as written; of repeated keys the first. */
  attrs: Record<string, string>;
  /** Line of the entry in the decoded text (1-based; of its location line,
   *  of a CUE sheet's TRACK line). */
  line: number;
  /** The tag lines the M3U parser ignored before this entry
   *  ("#EXTVLCOPT:http-referrer=x": tag "EXTVLCOPT", key "http-referrer",
   *  value "x"); left out when there are none. */
  options?: ItemOption[];
  /** For a location "URL|Key=Value&...": the URL before the "|" (left out
   *  when it is empty) and the pairs after it (the first value of a key
   *  wins); left out when the location has no pair. */
  url?: string;
  headers?: Record<string, string>;
  /** In a streaming list, a location "URL#URL2#URL3" (further addresses
   *  of the stream) and "URL$LABEL": the other addresses, and the first
   *  one's label; left out when the location has none. */
  alternates?: string[];
  label?: string;
  /** In a streaming list, NAME of the last "NAME,#genre#" line before the
   *  entry; left out otherwise. */
  group?: string;
  /** In an M3U list, the groups of the "#EXTGRP:" lines before the entry's
   *  location (split at ";"); left out when none. */
  groups?: string[];
  /** The request headers a player should send, by lower-case HTTP name
   *  ("user-agent", "referer", ...): the location's, then #EXTHTTP,
   *  #EXTVLCOPT and #KODIPROP lines, then the entry's and the #EXTM3U
   *  line's attributes; left out when none. */
  http?: Record<string, string>;
  /** Catch-up settings from the attributes catchup, catchup-source,
   *  catchup-days and tvg-shift (the entry's, else the #EXTM3U line's);
   *  left out when none is set. */
  catchup?: Catchup;

  /** Value of the attribute whose key equals `key` with ASCII letters
   *  folded, or undefined. */
  attr(key: string): string | undefined;
  /** The members the entry has as a plain object, in the full document's
   *  order: what JSON.stringify() writes and console.log() shows. */
  toJSON(): ItemData;

  // Convenience view for code written against the JavaScript IPTV
  // parsers, derived from the attributes ("" where there is none).
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
  /** Position in CD frames (75 a second). */
  frames: number;
  /** The same position in milliseconds, rounded down. */
  ms: number;
}

/** One TRACK of a sheet, read from the parse when first asked for. */
export interface CueTrack {
  /** The number of its TRACK line. */
  number: number;
  title: string | null;
  performer: string | null;
  songwriter: string | null;
  isrc: string | null;
  /** The FILE in force when the track opened. */
  file: string | null;
  /** As written, e.g. "DCP". */
  flags: string | null;
  /** E.g. "AUDIO". */
  datatype: string | null;
  /** PREGAP and POSTGAP in frames, null when not given. */
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
  /** The REM lines before the first TRACK, in order. */
  rem: Rem[];
  tracks: CueTrack[];
}

/** The options of the writers. */
export interface WriteOptions {
  /** Begin with the UTF-8 byte-order mark (as U+FEFF in a string). */
  bom?: boolean | null;
  /** End every line with CR LF instead of LF. */
  crlf?: boolean | null;
  /** true: the text's bytes (Buffer), exactly as the library writes them,
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
  format: FormatName;
  imdbDatePlaylist: boolean;
  items: Item[];
  /** The CUE sheet after a CUE parse, else null. */
  cue: CueSheet | null;
  /** Content problems that did not fail the parse ("m3u: ...", ...). */
  warnings: string[];
  /** Attributes of the #EXTM3U line ({} when none). */
  header: Record<string, string>;
  /** The encoding the text was read in: "UTF-8", "UTF-16LE", "GBK",
   *  "CP1252", "ISO-8859-1", the converter name of a named encoding, the
   *  guess of "auto" ("WINDOWS-1251", ...), or "raw" for bytes that no
   *  encoding decoded. */
  encoding: string | null;
  /** The text of the first "#PLAYLIST:" line, null when none. */
  title: string | null;
  /** The EPG addresses of the #EXTM3U line (x-tvg-url and url-tvg, split
   *  at commas), [] when none. */
  epg: string[];
  /** Every warning with its line and subject, and what the parse lost
   *  without one; [] when none. */
  diagnostics: Diagnostic[];
  /** The library's full document as a value, member for member:
   *  JSON.stringify(result) writes it. */
  toJSON(): object;
  /** The parsed playlist written back as playlist text by the library's
   *  writer, as the parse gave it (changes made to the objects since do not
   *  show: write() writes those). The input is parsed again with the same
   *  options: a buffer or file must be unchanged since. Parsing the text again in that format
   *  gives the same result, line numbers, warnings and diagnostics aside.
   *  KavloError ERR_FORMAT when the result cannot be written so. */
  toText(options: TextOptions & { bytes: true }): Buffer;
  toText(options?: TextOptions | null): string;
  /** toText() in the M3U format. */
  toM3U(options: WriteOptions & { bytes: true }): Buffer;
  toM3U(options?: WriteOptions | null): string;
}

/** The library's version, "MAJOR.MINOR.PATCH". */
export declare const version: string;

/** Parses a playlist in memory. Throws KavloError when the parse fails,
 *  TypeError or RangeError for a bad argument. */
export declare function parse(input: Input, options?: ParseOptions | null): Result;
/** Reads a file (pipes and FIFOs to their end) and parses it. */
export declare function parseFile(path: PathLike, options?: FileOptions | null): Result;
/** As parse(), on a thread of libuv's pool; several run at once. A buffer
 *  is read where it is: leave it unchanged until the promise settles. */
export declare function parseAsync(input: Input, options?: ParseOptions | null): Promise<Result>;
/** As parseFile(), on a thread of libuv's pool. */
export declare function parseFileAsync(path: PathLike, options?: FileOptions | null): Promise<Result>;
/** The library's full JSON document of a parse, as text, made without
 *  JavaScript objects; "{}" when none can be written. */
export declare function parseToJson(input: Input, options?: ParseOptions | null): string;
/** The format of a text, without parsing it. */
export declare function detect(input: Input): FormatName;

/** Playlist text of a list of entries (made by a program, or a result's
 *  items, edited), through the library's builder and writer. TypeError or
 *  RangeError for a value of the wrong type; KavloError ERR_INVALID, its
 *  message naming the entry ("items[3]: attribute ... refused: ..."), for
 *  one the builder refuses (see EntryInput). */
export declare function write(items: Iterable<EntryInput>, options: ListOptions & { bytes: true }): Buffer;
export declare function write(items: Iterable<EntryInput>, options?: ListOptions | null): string;
