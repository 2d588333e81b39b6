// Type declarations of the kavlo package.

/** Names of the playlist formats, as the library gives them. */
export type FormatName = 'm3u' | 'm3u8-hls' | 'streaming-list' | 'cue' | 'unknown';

/** Input of parse(), parseAsync() and detect(); a string is taken as UTF-8. */
export type Input = string | Uint8Array | ArrayBuffer;

export interface ParseOptions {
  /** "m3u", "streaming-list", "cue" (or "m3u8-hls", refused), a format code,
   *  or left out / "auto" to detect the format. */
  format?: 'auto' | Exclude<FormatName, 'unknown'> | number;
  /** Name of the bytes' encoding ("utf-16le", "gbk", "cp1252", any name
   *  iconv knows). Left out: a byte-order mark is honoured, valid UTF-8
   *  taken as it is, anything else falls back through GBK, CP1252 and
   *  Latin-1 with an "encoding: ..." warning. "auto": the same for marked
   *  and UTF-8 text, other text in the encoding uchardet finds (the chain
   *  when it finds none that converts the bytes); Result.encoding tells
   *  which. */
  encoding?: string | null;
}

export interface FileOptions {
  /** As in ParseOptions, "auto" included. */
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
  /** The status as a name: "ERR_DECODE", "ERR_FORMAT", "ERR_IO", ... */
  readonly code: string;
  constructor(status: number, message: string);
}

export interface ItemOption {
  tag: string;
  key: string;
  value: string;
}

/** A REM line of a CUE sheet: its first word and the rest. */
export interface Rem {
  key: string;
  value: string;
}

/** One playlist entry. */
export declare class Item {
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
  /** Line of the entry in the decoded text (1-based; of a CUE sheet's TRACK
   *  line); 0 when the library could write no document for the result. */
  line: number;
  /** The tag lines the M3U parser ignored before this entry
   *  ("#EXTVLCOPT:http-referrer=x": tag "EXTVLCOPT", key "http-referrer",
   *  value "x"); left out when there are none. */
  options?: ItemOption[];
  /** For a location "URL|Key=Value&...": the URL and the pairs (the first
   *  value of a key wins); left out otherwise. */
  url?: string;
  headers?: Record<string, string>;
  /** In a streaming list, NAME of the last "NAME,#genre#" line before the
   *  entry; left out otherwise. */
  genre?: string;

  /** Value of the attribute whose key equals `key` with ASCII letters
   *  folded, or undefined. */
  attr(key: string): string | undefined;

  // Convenience view for code written against the JavaScript IPTV
  // parsers, derived from the attributes ("" where there is none).
  readonly tvg: {
    id: string; name: string; logo: string; url: string; rec: string; shift: string;
    language: string; country: string;
  };
  /** The group-title attribute (or #EXTGRP), else the streaming genre. */
  readonly group: { title: string };
  /** Headers of the location, then #EXTVLCOPT options, then attributes. */
  readonly http: { referrer: string; 'user-agent': string };
  readonly catchup: { type: string; days: string; source: string };
  readonly timeshift: string;
  readonly lang: string;
}

export interface CueIndex {
  number: number;
  /** Position in CD frames (75 a second). */
  frames: number;
  /** The same position in milliseconds, rounded down. */
  ms: number;
}

export interface CueTrack {
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
  /** With encoding "auto": the encoding the text was read in ("UTF-8",
   *  "WINDOWS-1251", "SHIFT_JIS", ...); null otherwise. */
  encoding: string | null;
  /** The library's full JSON document of this result; "{}" when the
   *  library could write none (a string kept as undecodable bytes). */
  readonly json: string;
  /** The document as a value: JSON.stringify(result) writes it. */
  toJSON(): unknown;
}

/** The library's version, "MAJOR.MINOR.PATCH". */
export declare const version: string;

/** Parses a playlist in memory. Throws KavloError when the parse fails. */
export declare function parse(input: Input, options?: ParseOptions): Result;
/** Reads a file whole and parses it, detecting its format. */
export declare function parseFile(path: string | URL, options?: FileOptions): Result;
/** As parse(), on a worker thread. A buffer is read where it is: leave it
 *  unchanged until the promise settles. */
export declare function parseAsync(input: Input, options?: ParseOptions): Promise<Result>;
/** As parseFile(), on a worker thread. */
export declare function parseFileAsync(path: string | URL, options?: FileOptions): Promise<Result>;
/** Gives back the memory the library keeps after a parse for the next one
 *  (its copy of the last result). Results already returned are not
 *  affected. */
export declare function release(): void;
/** The format of a text, without parsing it. */
export declare function detect(input: Input): FormatName;
