/* SPDX-License-Identifier: MIT */
/*
 * kavlo - playlist parsing library (M3U / extended M3U, streaming URL lists,
 * CUE sheets) with a plain C interface.
 *
 * Usage in short: make a handle with kavlo_playlist_new(), parse into it
 * with kavlo_playlist_parse() or kavlo_playlist_parse_file(), read it
 * through the kavlo_playlist_* accessors or take it whole with
 * kavlo_playlist_json(), and free it with kavlo_playlist_free(). The older
 * process-wide functions (kavlo_parse() and the accessors without a
 * handle) work on one result the library keeps: every parse replaces the
 * previous one.
 *
 * Threads: the library has no locks. Distinct handles may be used from
 * different threads at the same time; one handle, and the process-wide
 * result, from one thread at a time.
 *
 * Strings: every string the library returns is owned by the library and is
 * NUL-terminated UTF-8 (with one exception: text that could not be decoded
 * at all is kept as its original bytes, see kavlo_parse_enc). The host never
 * frees one. Unless said otherwise a returned string stays valid until the
 * next kavlo_clear() or the next parse call that clears the result.
 *
 * Indices are zero-based. An index or key that addresses nothing never
 * fails: strings come back as NULL, counts and plain numbers as 0, and the
 * CUE index number, frames and milliseconds as -1.
 */
#ifndef KAVLO_H
#define KAVLO_H

#include <stddef.h>
#include <stdint.h>

/* The version of this header, "MAJOR.MINOR.PATCH". The build refuses to
 * configure when these lines differ from the project's version, so
 * kavlo_version() of the library built with this header gives
 * KAVLO_VERSION_STRING; a host can compare the two to find a library
 * older than its header. */
#define KAVLO_VERSION_MAJOR 0
#define KAVLO_VERSION_MINOR 1
#define KAVLO_VERSION_PATCH 0
#define KAVLO_VERSION_STRING "0.1.0"

#if defined(_WIN32)
#  if defined(KAVLO_BUILDING)
#    define KAVLO_API __declspec(dllexport)
#  else
#    define KAVLO_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define KAVLO_API __attribute__((visibility("default")))
#else
#  define KAVLO_API
#endif

#ifdef __cplusplus
#  define KAVLO_NOEXCEPT noexcept
extern "C" {
#else
#  define KAVLO_NOEXCEPT
#endif

/* Format codes (FormatCode): arguments of the parse functions and values of
 * kavlo_detect() and kavlo_detected_format(). */
#define KAVLO_FORMAT_AUTO (-1)          /* argument only: detect the format */
#define KAVLO_FORMAT_M3U 0              /* M3U or extended M3U */
#define KAVLO_FORMAT_M3U8_HLS 1         /* HLS manifest: recognised, refused */
#define KAVLO_FORMAT_STREAMING_LIST 2   /* plain list of streaming URLs */
#define KAVLO_FORMAT_CUE 3              /* CUE sheet */
#define KAVLO_FORMAT_UNKNOWN 4          /* none of these */

/* Status codes (StatusCode) of the parse functions. The value 2 is not used,
 * so command-line tools may keep it for their own usage errors. */
#define KAVLO_OK 0             /* a parser ran to its end; may carry warnings */
#define KAVLO_ERR_DECODE 1     /* the bytes could not be converted from the
                                  encoding a byte-order mark or the caller named */
#define KAVLO_ERR_FORMAT 3     /* HLS content, unknown format, or M3U text
                                  without its #EXTM3U header */
#define KAVLO_ERR_INVALID 4    /* NULL text with non-zero length, or NULL path */
#define KAVLO_ERR_IO 5         /* the file could not be opened, sought or measured */
#define KAVLO_ERR_NOMEM 6      /* an allocation failed; no error text is written */

/* ---- Parsing ------------------------------------------------------------ */

/* Parses `len` bytes at `text` (no NUL terminator needed) in the given
 * format, or with KAVLO_FORMAT_AUTO detects it. The bytes are decoded to
 * UTF-8 first: a byte-order mark (UTF-8 EF BB BF, UTF-32LE FF FE 00 00,
 * UTF-32BE 00 00 FE FF, UTF-16LE FF FE, UTF-16BE FE FF, looked for in this
 * order) is honoured and dropped, and a text after a wide mark that its
 * encoding refuses fails with KAVLO_ERR_DECODE ("utf32le fail", "utf32be
 * fail", "utf16le fail", "utf16be fail"); otherwise valid UTF-8 is taken
 * as it is, and anything else falls back to GBK, then CP1252, then Latin-1
 * (with an "encoding: ..." warning), and as a last resort is kept byte for
 * byte.
 * Clears the previous result first, also when the call then fails.
 * Returns a status code; kavlo_last_error() holds the message of a failure.
 * A NULL `text` with `len` 0 parses an empty text; with `len` above 0 it
 * gives KAVLO_ERR_INVALID.
 * Detection knows each format in its usual form only: M3U by "#EXTM3U" in
 * upper case as the first thing after spaces, tabs and line ends; a CUE
 * sheet by upper-case "FILE \"" (or "FILE " at the start of a line after a
 * line feed), "TRACK " and "INDEX " in its first 8 KiB; a streaming list by
 * "http://", "https://" or "rtsp://" in its first 4 KiB. Anything else is
 * "unknown playlist format" (KAVLO_ERR_FORMAT). Naming the format parses the
 * other forms: a sheet written in lower case ("file \"a.wav\" wave") with
 * KAVLO_FORMAT_CUE, a "#extm3u" header with KAVLO_FORMAT_M3U. */
KAVLO_API int kavlo_parse(const char *text, size_t len, int format) KAVLO_NOEXCEPT;

/* As kavlo_parse(), with the name of the text's encoding. Known aliases in
 * any letter case: "utf-8", "utf8", "utf-16le", "utf16le", "utf-16be",
 * "utf16be", "gbk", "cp936", "gb2312", "gb18030" (all converted as GBK),
 * "big5", "cp1252", "windows-1252", "latin1", "iso-8859-1". Any other name is
 * handed to iconv as written. NULL or "" means no name (kavlo_parse()).
 * A byte-order mark wins over the name. A named conversion that fails gives
 * KAVLO_ERR_DECODE ("iconv NAME fail"), without fallback; for instance the
 * GB18030 four-byte sequence 81 30 81 30 named "gb18030" fails with
 * "iconv GBK fail". The UTF-8 names are the exception: bytes that are not
 * UTF-8 then fall back exactly as without a name, so the bytes 63 61 66 E9
 * named "utf-8" decode as "café" with the warning
 * "encoding: CP1252 fallback". */
KAVLO_API int kavlo_parse_enc(const char *text, size_t len, int format,
                              const char *encoding) KAVLO_NOEXCEPT;

/* Reads the file at `path` whole (binary) and parses it with automatic
 * format detection. Fails with KAVLO_ERR_IO ("io: <system message>", "seek"
 * or "tell") when the file cannot be opened or measured, files of 2 GiB or
 * more included, and with KAVLO_ERR_INVALID ("null path") for a NULL path.
 * Such failures before the file is read leave the previous result in place
 * (with the new error text): after a successful parse of a playlist,
 * kavlo_parse_file("/missing") returns KAVLO_ERR_IO and kavlo_item_count()
 * still counts that playlist's items, so check the status first. Once the
 * file is read it behaves as kavlo_parse(). Any file readable to its end is
 * accepted; pipes and FIFOs cannot be sought and fail with "seek" (read
 * them and hand the bytes to kavlo_parse_enc()). */
KAVLO_API int kavlo_parse_file(const char *path) KAVLO_NOEXCEPT;

/* As kavlo_parse_file(), decoding the file's bytes as kavlo_parse_enc()
 * does with `encoding`. */
KAVLO_API int kavlo_parse_file_enc(const char *path, const char *encoding) KAVLO_NOEXCEPT;

/* Detects the format of `len` bytes at `text` without parsing them: returns
 * KAVLO_FORMAT_M3U, _M3U8_HLS, _STREAMING_LIST, _CUE or _UNKNOWN (also for
 * NULL text and for bytes that cannot be decoded). Does not clear the
 * result of the last parse: its items stay readable, and kavlo_detected_format()
 * is unchanged; decoding warnings ("encoding: ...") are appended to its
 * warnings, and a failed decoding sets kavlo_last_error(). Strings returned
 * by the accessors before stay valid. For instance kavlo_detect() of the
 * bytes "caf\xE9,http://x/" answers KAVLO_FORMAT_STREAMING_LIST and adds
 * "encoding: CP1252 fallback" to the warnings of the last parse; of FF FE 41
 * (a UTF-16 mark and an odd length) it answers KAVLO_FORMAT_UNKNOWN and sets
 * the last error to "utf16le fail". Call kavlo_clear() first to keep the
 * warnings apart. */
KAVLO_API int kavlo_detect(const char *text, size_t len) KAVLO_NOEXCEPT;

/* Empties the result: no items, tracks or warnings, last error "", detected
 * format 0 (KAVLO_FORMAT_M3U). Every string returned before becomes invalid.
 * Harmless on an empty result. */
KAVLO_API void kavlo_clear(void) KAVLO_NOEXCEPT;

/* ---- Items (every format) ----------------------------------------------- */

/* Number of playlist items of the last parse; 0 after kavlo_clear(). */
KAVLO_API int kavlo_item_count(void) KAVLO_NOEXCEPT;

/* Location (path or URL) of item `item`; "" when the playlist gave none;
 * NULL when `item` is out of range. */
KAVLO_API const char *kavlo_item_location(int item) KAVLO_NOEXCEPT;

/* Title of item `item`; "" when the playlist gave none; NULL when `item` is
 * out of range. The title of an #EXTINF line is the text after its last
 * comma outside double quotes: #EXTINF:-1 tvg-name="A, B",News, Late gives
 * the title "Late" (and tvg-name "A, B"). */
KAVLO_API const char *kavlo_item_title(int item) KAVLO_NOEXCEPT;

/* Duration of item `item` in milliseconds, -1 when unknown; 0 when `item`
 * is out of range. An #EXTINF duration of 2147484 seconds or more is
 * returned unscaled (it does not fit in milliseconds). */
KAVLO_API int kavlo_item_duration_ms(int item) KAVLO_NOEXCEPT;

/* Release date of item `item` in an IMDb date playlist (the number of its
 * #EXTINF duration field, e.g. 19990331); 0 in any other playlist and when
 * `item` is out of range. */
KAVLO_API int kavlo_item_release_date(int item) KAVLO_NOEXCEPT;

/* Number of #EXTINF attributes of item `item` (0 to 64); 0 when out of
 * range. */
KAVLO_API int kavlo_item_attr_count(int item) KAVLO_NOEXCEPT;

/* Key of attribute `attr` of item `item`, as written in the source; NULL
 * when either index is out of range. */
KAVLO_API const char *kavlo_item_attr_key(int item, int attr) KAVLO_NOEXCEPT;

/* Value of the first attribute of item `item` whose key equals `key` with
 * ASCII letters folded ("GROUP-TITLE" finds "group-title"); "" for an
 * attribute written without a value; NULL when `item` is out of range, `key`
 * is NULL or no key matches. */
KAVLO_API const char *kavlo_item_attr(int item, const char *key) KAVLO_NOEXCEPT;

/* 1 when the last M3U parse found an IMDb date playlist (every title starts
 * with "tt" and every #EXTINF duration field holds a positive number, which
 * is then the item's release date), else 0. */
KAVLO_API int kavlo_m3u_is_imdb_date_playlist(void) KAVLO_NOEXCEPT;

/* ---- CUE sheets ---------------------------------------------------------- */

/* Sheet-level field of the last CUE parse, by key in any letter case:
 * "TITLE", "PERFORMER", "SONGWRITER", "CATALOG" or "CDTEXTFILE". NULL for a
 * NULL or unknown key and for a field the sheet did not set. Only TITLE and
 * PERFORMER are in the document of kavlo_result_json(); the others are in
 * the full document (kavlo_result_json_full()) and here. */
KAVLO_API const char *kavlo_cue_meta(const char *key) KAVLO_NOEXCEPT;

/* Number of tracks of the last CUE parse; 0 for other formats. */
KAVLO_API int kavlo_cue_track_count(void) KAVLO_NOEXCEPT;

/* String field of track `track`, by key in any letter case: "TITLE",
 * "PERFORMER", "SONGWRITER", "ISRC", "FILE" (the FILE in force when the
 * track opened), "FLAGS" (as written) or "DATATYPE". NULL when `track` is
 * out of range, the key is NULL or unknown, or the field was never set.
 * Only TITLE and FILE are in the document of kavlo_result_json(); the
 * others are in the full document (kavlo_result_json_full()) and here. */
KAVLO_API const char *kavlo_cue_track_field(int track, const char *key) KAVLO_NOEXCEPT;

/* Number of INDEX points of track `track` (0 to 32); 0 when out of range. */
KAVLO_API int kavlo_cue_track_index_count(int track) KAVLO_NOEXCEPT;

/* Index number of INDEX point `slot` of track `track`, in source order; -1
 * when either is out of range. */
KAVLO_API int kavlo_cue_track_index_number(int track, int slot) KAVLO_NOEXCEPT;

/* Position of INDEX point `slot` of track `track` in CD frames (75 a
 * second); -1 when either is out of range. */
KAVLO_API int64_t kavlo_cue_track_index_frames(int track, int slot) KAVLO_NOEXCEPT;

/* The same position in milliseconds, rounded down (1 frame gives 13, 75
 * frames give 1000); -1 when out of range. Positions beyond about 596 hours
 * do not fit in an int and have no defined result. */
KAVLO_API int kavlo_cue_track_index_ms(int track, int slot) KAVLO_NOEXCEPT;

/* ---- Warnings, errors, formats ----------------------------------------- */

/* Number of warnings of the last parse (0 to 512; later ones are dropped).
 * Warnings never make a parse fail; each starts with its stage:
 * "m3u: ", "cue: ", "streaming: " or "encoding: ". */
KAVLO_API int kavlo_warning_count(void) KAVLO_NOEXCEPT;

/* Warning `index` in the order raised (at most 511 bytes); NULL when out of
 * range. Warnings appended later by kavlo_detect() do not move earlier
 * ones. */
KAVLO_API const char *kavlo_warning(int index) KAVLO_NOEXCEPT;

/* Message of the last failure, "" when there is none. Never NULL; the
 * buffer lives as long as the library, its contents change with each error
 * and are emptied by each clear. KAVLO_ERR_NOMEM writes no message. */
KAVLO_API const char *kavlo_last_error(void) KAVLO_NOEXCEPT;

/* Format of the last parse: the detected one, or the one the caller gave
 * (also an out-of-range value, as given). 0 after kavlo_clear(). */
KAVLO_API int kavlo_detected_format(void) KAVLO_NOEXCEPT;

/* Constant name of a format code: "auto", "m3u", "m3u8-hls",
 * "streaming-list", "cue"; "unknown" for 4 and for every other value.
 * Always valid. */
KAVLO_API const char *kavlo_format_name(int code) KAVLO_NOEXCEPT;

/* ---- JSON ------------------------------------------------------------- */

/* The whole result as one compact JSON object:
 * {"format":..,"item_count":..,"imdb_date_playlist":..,"items":[..]} with
 * "cue" after a CUE parse and "warnings" when there are any. The "cue"
 * object carries the sheet's "title" and "performer" and each track's
 * "number", "title", "file" and "indices"; the other CUE fields are in the
 * full document (kavlo_result_json_full()) and read through
 * kavlo_cue_meta() and kavlo_cue_track_field(). Returns the
 * constant "{}" when no document can be written (no memory, or a stored
 * string that is not strictly valid UTF-8). The text is owned by the library
 * and valid until the next kavlo_result_json(), kavlo_result_json_full(),
 * kavlo_clear() or parse. */
KAVLO_API const char *kavlo_result_json(void) KAVLO_NOEXCEPT;

/* ---- Version and the full document ----------------------------------- */

/* The library's version, "MAJOR.MINOR.PATCH" (the one pkg-config and the
 * CMake package report). A constant string, always valid. */
KAVLO_API const char *kavlo_version(void) KAVLO_NOEXCEPT;

/* The full document of the last parse: the document of kavlo_result_json()
 * with further members appended at the end of the objects they extend, so
 * that removing them gives that document byte for byte. Members that would
 * be empty are left out.
 *   root:  "version" (as kavlo_version()); "header": object of the
 *          attributes of the #EXTM3U line (read as those of #EXTINF);
 *          "title" (the first "#PLAYLIST:" line), "epg" (the EPG
 *          addresses of the #EXTM3U line), "diagnostics":
 *          [{"line","message","subject"}, ...] (every warning with its line
 *          and subject, and what was lost without a warning); each as the
 *          handle accessors kavlo_playlist_title(), _epg() and
 *          _diagnostic_*() give them (see there).
 *   item:  "line": 1-based line of the entry in the decoded text (of its
 *          location line; for a CUE sheet, of its TRACK line);
 *          "options": [{"tag","key","value"}, ...] for every tag line the
 *          M3U parser ignores (with a warning) between the previous entry
 *          and this one: "#EXTVLCOPT:http-referrer=x" gives tag "EXTVLCOPT",
 *          key "http-referrer", value "x", split at the first "="; without
 *          "=" the value is "", without ":" key and value are ""; ignored
 *          tags after the last entry are dropped. Not options: comments
 *          ("#" followed by anything but a tag name: a letter, then
 *          letters, digits, "-" and "_", then white space at most, up to
 *          ":" or the end of the line) and "#PLAYLIST:" lines;
 *          "url", "headers", "alternates" and "label" of a location that
 *          carries more than its address (kavlo_playlist_item_url() and
 *          the accessors after it): request headers after "|" in Kodi's
 *          and iptv-org's dialects, further addresses and a label in a
 *          streaming list;
 *          "group": in a streaming list, NAME of the last "NAME,#genre#"
 *          line before the entry (such a line still warns as a line
 *          without a stream);
 *          "groups": the "#EXTGRP:" groups of the entry, split at ";";
 *          "http": the request headers a player should send, combined
 *          from the location, #EXTHTTP, #EXTVLCOPT, #KODIPROP, the item's
 *          and the #EXTM3U line's attributes in that order of precedence
 *          (kavlo_playlist_item_http_count());
 *          "catchup": {"mode","source","days","shift"} from the item's
 *          attributes, else the #EXTM3U line's.
 *   cue:   "songwriter", "catalog", "cdtextfile"; "rem": [{"key","value"},
 *          ...] for the REM lines before the first TRACK, in order (key: the
 *          first word, value: the rest with surrounding quotes removed).
 *   track: "performer", "songwriter", "isrc", "flags", "datatype",
 *          "pregap" and "postgap" (frames, the last well-formed line of
 *          each), "rem" (the track's REM lines).
 * The text is owned by the library and valid until the next
 * kavlo_result_json_full(), kavlo_result_json(), kavlo_clear() or parse;
 * "{}" when no document can be written, as for kavlo_result_json(). */
KAVLO_API const char *kavlo_result_json_full(void) KAVLO_NOEXCEPT;

/* ==== Playlist handles ===================================================
 *
 * A kavlo_playlist holds one parsed playlist that the host owns: parse into
 * it, read it, parse again into it or free it. The functions below answer
 * exactly as the process-wide ones above, case for case (statuses, texts,
 * out-of-range results, lifetimes), but for that handle alone:
 * kavlo_X(args) reads the process-wide result, kavlo_playlist_X(p, args)
 * the result held by `p`. A string a handle returns stays valid until the
 * next parse or clear of that handle, or its free (the JSON texts and the
 * written text also until the next call that makes another).
 *
 * NULL handles: every accessor answers a NULL `p` as an index that
 * addresses nothing (NULL strings, 0 counts and numbers, -1 for the CUE
 * positions); kavlo_playlist_last_error(NULL) gives "", the JSON functions
 * "{}", and the parse functions KAVLO_ERR_INVALID.
 *
 * Threads: distinct handles may be used from different threads at the same
 * time; one handle is used by one thread at a time, as a FILE *. The
 * process-wide functions above are one more handle of this kind, kept by
 * the library, and follow the same rule.
 *
 * Encodings: where a handle function takes `encoding`, NULL or "" is the
 * library's own decoding (as kavlo_parse()), "auto" lets the library guess
 * a legacy encoding from the bytes (see kavlo_playlist_parse()), and any
 * other name is taken as kavlo_parse_enc() takes it.
 */

typedef struct kavlo_playlist kavlo_playlist;

/* A new, empty handle (as after kavlo_playlist_clear()); NULL when no
 * memory is left. Free it with kavlo_playlist_free(). */
KAVLO_API kavlo_playlist *kavlo_playlist_new(void) KAVLO_NOEXCEPT;

/* Releases the handle and everything it holds, its large blocks included.
 * NULL is a no-op. */
KAVLO_API void kavlo_playlist_free(kavlo_playlist *p) KAVLO_NOEXCEPT;

/* Parses `len` bytes at `text` into `p` in `format` (KAVLO_FORMAT_AUTO to
 * detect it), as kavlo_parse_enc() does, replacing what `p` held. With
 * `encoding` "auto" (any letter case): bytes with a byte-order mark, or
 * that are UTF-8, are read as without a name; other bytes are shown to a
 * statistical detector (uchardet) whose answer a few facts about the bytes
 * mend (kana make a "Chinese" text Japanese, a "CJK" text whose high bytes
 * never stand side by side is single-byte text, a Latin code page that
 * would put a sign inside a word gives way to CP1252, ISO-8859-2 or
 * CP1250); when the detector has no answer, or the bytes are not valid in
 * the encoding it named, they are read as without a name. "auto" never
 * fails a parse that no name would have done. kavlo_playlist_encoding()
 * tells what was used. Returns a status code; KAVLO_ERR_INVALID for a NULL
 * handle. */
KAVLO_API int kavlo_playlist_parse(kavlo_playlist *p, const char *text, size_t len, int format,
                                   const char *encoding) KAVLO_NOEXCEPT;

/* Reads the file at `path` whole and parses it into `p` with automatic
 * format detection, as kavlo_parse_file_enc() does (the same failures, and
 * a failure before the file is read leaves the previous result of `p` in
 * place with the new error text). Unlike kavlo_parse_file(), pipes, FIFOs
 * and character devices are read to their end as streams. */
KAVLO_API int kavlo_playlist_parse_file(kavlo_playlist *p, const char *path,
                                        const char *encoding) KAVLO_NOEXCEPT;

/* As kavlo_playlist_parse_file(), in the given format (KAVLO_FORMAT_AUTO
 * detects it). */
KAVLO_API int kavlo_playlist_parse_file_as(kavlo_playlist *p, const char *path, int format,
                                           const char *encoding) KAVLO_NOEXCEPT;

/* Reads what is left of the open descriptor `fd` (a regular file from its
 * position to its end, anything else to its end as a stream; the
 * descriptor is not closed, and a non-blocking one is read as it is) and
 * parses it into `p` in `format`, as kavlo_playlist_parse() would; for
 * standard input, or a file a host opened. KAVLO_ERR_IO for a descriptor
 * that cannot be read (the previous result then stays, with the error). */
KAVLO_API int kavlo_playlist_parse_fd(kavlo_playlist *p, int fd, int format,
                                      const char *encoding) KAVLO_NOEXCEPT;

/* Reads the file at `path` (or what is left of `fd`) as
 * kavlo_playlist_parse_file() (or kavlo_playlist_parse_fd()) would, decodes
 * it and decides its format without parsing it: `p` then holds no items,
 * kavlo_playlist_detected_format() answers the format (as
 * kavlo_detect_text() would), kavlo_playlist_encoding() the encoding, and
 * the warnings are those of the decoding. Returns KAVLO_OK, or the failure
 * of the read or the decoding (KAVLO_ERR_IO, KAVLO_ERR_DECODE,
 * KAVLO_ERR_NOMEM, KAVLO_ERR_INVALID for a NULL handle or path) with the
 * last error set. */
KAVLO_API int kavlo_playlist_detect_file(kavlo_playlist *p, const char *path,
                                         const char *encoding) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_detect_fd(kavlo_playlist *p, int fd, const char *encoding) KAVLO_NOEXCEPT;

/* The size in bytes of the text the last parse or detection of `p` read
 * (before decoding); 0 before any, after a clear, and for a NULL handle. */
KAVLO_API size_t kavlo_playlist_input_size(const kavlo_playlist *p) KAVLO_NOEXCEPT;

/* Empties `p` (no items, tracks or warnings, last error "", detected
 * format 0). NULL is a no-op. */
KAVLO_API void kavlo_playlist_clear(kavlo_playlist *p) KAVLO_NOEXCEPT;

/* The format of `len` bytes at `text` after decoding them with `encoding`
 * (as kavlo_playlist_parse() would): KAVLO_FORMAT_M3U, _M3U8_HLS,
 * _STREAMING_LIST, _CUE or _UNKNOWN (also for NULL text and for bytes that
 * cannot be decoded). Touches no result and no last error, neither the
 * process-wide one nor any handle's; safe from any thread. */
KAVLO_API int kavlo_detect_text(const char *text, size_t len, const char *encoding) KAVLO_NOEXCEPT;

/* ---- Handle accessors: those of the process-wide result, for `p` ---- */

KAVLO_API int kavlo_playlist_item_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_location(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_title(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_item_duration_ms(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_item_release_date(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_item_attr_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_attr_key(const kavlo_playlist *p, int item,
                                                   int attr) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_attr(const kavlo_playlist *p, int item,
                                               const char *key) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_m3u_is_imdb_date_playlist(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_cue_meta(const kavlo_playlist *p, const char *key) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_cue_track_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_cue_track_field(const kavlo_playlist *p, int track,
                                                     const char *key) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_cue_track_index_count(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_cue_track_index_number(const kavlo_playlist *p, int track,
                                                    int slot) KAVLO_NOEXCEPT;
KAVLO_API int64_t kavlo_playlist_cue_track_index_frames(const kavlo_playlist *p, int track,
                                                        int slot) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_cue_track_index_ms(const kavlo_playlist *p, int track,
                                                int slot) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_warning_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_warning(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT;
/* Never NULL: "" for a NULL handle and when there is no error. */
KAVLO_API const char *kavlo_playlist_last_error(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_detected_format(const kavlo_playlist *p) KAVLO_NOEXCEPT;
/* kavlo_result_json() and kavlo_result_json_full() of `p`; "{}" for NULL. */
KAVLO_API const char *kavlo_playlist_json(kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_json_full(kavlo_playlist *p) KAVLO_NOEXCEPT;

/* ---- What only the full document showed, one accessor each ------------ */

/* The encoding the text was decoded from: "UTF-8" (also for an empty
 * text), "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE", "GBK", "CP1252",
 * "ISO-8859-1", the converter name of the caller's encoding ("gb2312"
 * gives "GBK", "koi8-r" stays "koi8-r") or of the guess of "auto"
 * ("WINDOWS-1251", "SHIFT_JIS", ...), or "raw" for text that no encoding
 * decoded and that is kept byte for byte. NULL before the first parse,
 * after a clear, and when the parse failed before the text was decoded. */
KAVLO_API const char *kavlo_playlist_encoding(const kavlo_playlist *p) KAVLO_NOEXCEPT;

/* Value of attribute `attr` of item `item` (the one kavlo_playlist_
 * item_attr_key() names; "" for an attribute without a value); NULL when
 * either index is out of range. */
KAVLO_API const char *kavlo_playlist_item_attr_value(const kavlo_playlist *p, int item,
                                                     int attr) KAVLO_NOEXCEPT;

/* 1-based line of item `item` in the decoded text (of its location line;
 * of the TRACK line in a CUE sheet); 0 when out of range. */
KAVLO_API int64_t kavlo_playlist_item_line(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;

/* Tag lines the M3U parser keeps for item `item` without reading them
 * ("#EXTVLCOPT:http-referrer=x": tag "EXTVLCOPT", key "http-referrer",
 * value "x"; split at the first "=", without "=" the value is "", without
 * ":" key and value are ""), in source order: those between the previous
 * entry's location and this one's, before or after its #EXTINF line. A
 * comment (see kavlo_result_json_full()) and a "#PLAYLIST:" line (the
 * list's title) are not options. Count 0 and NULL strings when out of
 * range. */
KAVLO_API int kavlo_playlist_item_option_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_option_tag(const kavlo_playlist *p, int item,
                                                     int option) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_option_key(const kavlo_playlist *p, int item,
                                                     int option) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_option_value(const kavlo_playlist *p, int item,
                                                       int option) KAVLO_NOEXCEPT;

/* A location that carries more than its address. Request headers after a
 * "|", in either dialect: "URL|User-Agent=a&Referer=b" (values
 * percent-decoded: "%2F" gives "/"; a value whose decoding would hold a
 * control character or not be UTF-8 stays as written) and
 * "URL|Referer=\"b\"|User-Agent=\"a\"" (values in quotes, taken without
 * them). Pairs are split at "&" and "|" and at their first "="; parts
 * without "=" or a name add nothing; names keep their letters as written
 * but are compared without case, the first value of a name winning; at
 * most 64. In a streaming list also further addresses and a label (see
 * kavlo_playlist_item_alternate() and _label()). The URL is the address
 * without any of that: NULL when the location carries nothing of it or
 * the URL part is empty. Count 0 and NULL strings when out of range. */
KAVLO_API const char *kavlo_playlist_item_url(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_item_header_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_header_key(const kavlo_playlist *p, int item,
                                                     int header) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_header_value(const kavlo_playlist *p, int item,
                                                       int header) KAVLO_NOEXCEPT;

/* In a streaming list, a location "URL#URL2#URL3" (a "#" followed by a
 * scheme, "name://", separates addresses) lists further addresses of the
 * same stream, and "URL$LABEL" gives an address a label (the text after
 * its last "$", trimmed, when not empty). The URL (kavlo_playlist_item_url)
 * is the first address without its label; the alternates are the others,
 * each without its label, at most 64; the label is the first address's.
 * NULL and count 0 when the location has none and when out of range. In
 * an M3U list "#" and "$" are part of the URL. */
KAVLO_API int kavlo_playlist_item_alternate_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_alternate(const kavlo_playlist *p, int item,
                                                    int alternate) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_label(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;

/* In a streaming list: NAME of the last "NAME,#genre#" line before item
 * `item`; NULL when there is none (or it is empty) and when out of range. */
KAVLO_API const char *kavlo_playlist_item_group(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;

/* In an M3U list: the groups of the "#EXTGRP:" lines between the previous
 * entry's location and this entry's (one line may name several, separated
 * by ";"; each trimmed, empty ones left out), in order. This differs from
 * the "group-title" attribute an "#EXTGRP:" line gives, which goes to the
 * next #EXTINF line: a group line written between an #EXTINF line and its
 * location is this entry's group here and the next entry's "group-title".
 * Count 0 and NULL when out of range. */
KAVLO_API int kavlo_playlist_item_group_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_group_at(const kavlo_playlist *p, int item,
                                                   int group) KAVLO_NOEXCEPT;

/* The request headers a player should send for item `item`, by lower-case
 * HTTP name ("user-agent", "referer", "origin", "cookie", ...), combined
 * from these sources; for each name the first source in this order that
 * gives it a value that is not empty decides:
 *   1. the location's headers after "|" (kavlo_playlist_item_header_*);
 *   2. "#EXTHTTP:" lines that hold a JSON object of string values
 *      without control characters, names of any case (every such line
 *      is an option too, split as any other);
 *   3. "#EXTVLCOPT:http-NAME=VALUE" options: NAME is the header
 *      ("http-referrer" gives "referer"), VALUE without surrounding quotes;
 *      the player's own options http-reconnect, http-continuous,
 *      http-forward-cookies, http-proxy and http-proxy-pwd send none;
 *   4. "#KODIPROP:inputstream.adaptive.stream_headers=",
 *      "...manifest_headers=" and "...common_headers=" lists, written
 *      "Name=Value&Name=Value" (percent-decoded);
 *   5. the item's attributes http-user-agent and user-agent (giving
 *      "user-agent"), http-referrer and referrer ("referer"), http-origin
 *      ("origin");
 *   6. the same attributes of the #EXTM3U line.
 * Tag lines count for the entry whose location follows them, written
 * before or after its #EXTINF line. Among lines of one kind the later
 * wins; within one line, and among attributes, the first. At most 64
 * names, in the order decided. Count 0 and NULL strings when out of range;
 * kavlo_playlist_item_http() looks a name up, letters folded (NULL when
 * absent). */
KAVLO_API int kavlo_playlist_item_http_count(const kavlo_playlist *p, int item) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_http_key(const kavlo_playlist *p, int item,
                                                   int header) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_http_value(const kavlo_playlist *p, int item,
                                                     int header) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_item_http(const kavlo_playlist *p, int item,
                                               const char *name) KAVLO_NOEXCEPT;

/* Catch-up setting `key` of item `item`: "mode" (attribute catchup),
 * "source" (catchup-source), "days" (catchup-days) or "shift" (tvg-shift),
 * letters folded: the item's own attribute when it has one that is not
 * empty, else the #EXTM3U line's. NULL when neither has it, for another or
 * a NULL key, and when out of range. */
KAVLO_API const char *kavlo_playlist_item_catchup(const kavlo_playlist *p, int item,
                                                  const char *key) KAVLO_NOEXCEPT;

/* The text of the first "#PLAYLIST:" line that is not empty (trimmed);
 * NULL when there is none. */
KAVLO_API const char *kavlo_playlist_title(const kavlo_playlist *p) KAVLO_NOEXCEPT;

/* The EPG addresses of the #EXTM3U line: the values of its x-tvg-url and
 * url-tvg attributes, in order, split at commas and trimmed, each kept
 * once, at most 64. Count 0 and NULL when out of range. */
KAVLO_API int kavlo_playlist_epg_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_epg(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT;

/* Diagnostics: every warning of kavlo_playlist_warning() (but one whose
 * text could not be stored for want of memory), in the same order and
 * with the same text, with the 1-based line that raised it (0
 * for the decoding warnings, which concern the whole text) and its
 * subject: the tag ("#EXTVLCOPT", up to the tag line's ":"), the key
 * (CUE: the keyword or REM key), the URL, or the encoding. Among them, in
 * the order found, what the parse lost without a warning:
 *   "m3u: attributes past the 64th dropped: N" (subject: the first key
 *     dropped; also for the #EXTM3U line),
 *   "m3u: EXTGRP group dropped past the 64th attribute" (the group),
 *   "m3u: fraction of the EXTINF duration dropped" ("10.5", read as 10 s),
 *   "m3u: line cut at a NUL byte" (also "cue: " and "streaming: "; the
 *     text before the NUL),
 *   "cue: index past the 32nd of the track dropped" (its number),
 *   "m3u: request headers past the 64th dropped: N" (also "streaming: "
 *     and "cue: " for a location), "m3u: EPG addresses past the 64th
 *     dropped: N", "streaming: alternate addresses past the 64th dropped:
 *     N" (each with the first one dropped);
 * at most 512 of those. Last, when the caps were reached, "warnings past
 * the 512th dropped: N" and "diagnostics past the 512th dropped: N", at
 * the line of the first dropped one, whose text is the subject. Lines are
 * in the decoded text. Line -1 and NULL strings when
 * out of range; the subject is "" when there is none. */
KAVLO_API int kavlo_playlist_diagnostic_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API int64_t kavlo_playlist_diagnostic_line(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_diagnostic_message(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_diagnostic_subject(const kavlo_playlist *p, int index) KAVLO_NOEXCEPT;

/* Attributes of the #EXTM3U line, read as those of #EXTINF: count, key and
 * value by position, value by key (ASCII letters folded, the first wins). */
KAVLO_API int kavlo_playlist_header_attr_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_header_attr_key(const kavlo_playlist *p, int attr) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_header_attr_value(const kavlo_playlist *p, int attr) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_header_attr(const kavlo_playlist *p, const char *key) KAVLO_NOEXCEPT;

/* Track number of track `track` (from its TRACK line); -1 when out of
 * range. */
KAVLO_API int kavlo_playlist_cue_track_number(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT;

/* PREGAP and POSTGAP of track `track` in CD frames (the last well-formed
 * line of each); -1 when the track has none and when out of range. */
KAVLO_API int64_t kavlo_playlist_cue_track_pregap(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT;
KAVLO_API int64_t kavlo_playlist_cue_track_postgap(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT;

/* REM lines of the sheet (those before the first TRACK) and of track
 * `track`, in order: key is the first word, value the rest with
 * surrounding quotes removed. Count 0 and NULL strings when out of range. */
KAVLO_API int kavlo_playlist_cue_rem_count(const kavlo_playlist *p) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_cue_rem_key(const kavlo_playlist *p, int rem) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_cue_rem_value(const kavlo_playlist *p, int rem) KAVLO_NOEXCEPT;
KAVLO_API int kavlo_playlist_cue_track_rem_count(const kavlo_playlist *p, int track) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_cue_track_rem_key(const kavlo_playlist *p, int track,
                                                       int rem) KAVLO_NOEXCEPT;
KAVLO_API const char *kavlo_playlist_cue_track_rem_value(const kavlo_playlist *p, int track,
                                                         int rem) KAVLO_NOEXCEPT;

/* ==== Writing ============================================================
 *
 * A handle's result written back as playlist text, and results built from
 * the items of others (filters, merges).
 *
 * The round trip: parsing the text written in a format, with that format
 * named (kavlo_playlist_parse(q, text, length, format, NULL)), gives the
 * result written, as its full document shows it, except the line numbers,
 * the warnings about what the first text had wrong and their diagnostics,
 * and the "#EXTGRP:" groups ("groups") other than the one that gives an
 * entry its "group-title". This holds for
 * every result a parse gives, written in its own format, and for results
 * appended from results of one format. Automatic detection finds every
 * written M3U text; a streaming list or CUE sheet it finds in their usual
 * forms (see kavlo_parse()).
 *
 * Extended M3U: "#EXTM3U" with the attributes of the original header
 * ("#PLAYLIST:" with the list's title after it, when it has one), then
 * for each item its options in order ("#TAG:KEY=VALUE", as read), an
 * "#EXTGRP:" line where the item's "group-title" came from one (or, for a
 * streaming-list entry, its group), "#EXTINF:" with the duration number,
 * the attributes and the title (left out when an item has none of these),
 * and the location as given, with its "|" headers. Attribute values are
 * written in double quotes; a value that holds a double quote is written
 * without quotes (tvg-name=say"cheese"), which the M3U reader takes up to
 * the next white space: every value it makes holds no white space when it
 * holds a quote, and does not begin with one. When the keys and such values
 * hold an odd number of double quotes, a lone '"' ends the attribute list,
 * so that the title's comma stays outside quotes; the reader skips that
 * word. When an HLS marker (#EXT-X-ENDLIST, ...) would stand in the first
 * 64 KiB, 65536 bytes of blank lines come before the header, so that the
 * text is not refused as HLS.
 * Streaming list: "NAME,URL" per item, the URL alone when the name is
 * empty or the URL itself (",URL" when the URL holds a comma); "NAME,#genre#" before the first item of each
 * group (",#genre#" ends one). The group is the entry's streaming group,
 * else its "group-title" attribute.
 * CUE sheet: TITLE, PERFORMER, SONGWRITER, CATALOG, CDTEXTFILE and the REM
 * lines of the sheet, then a FILE line (name in quotes, the type of the
 * original FILE line) where the file changes, and each track with TRACK
 * (number, data type), FLAGS, TITLE, PERFORMER, SONGWRITER, ISRC, its REM
 * lines, PREGAP, INDEX lines and POSTGAP, times as MM:SS:FF.
 *
 * What a format cannot hold is left out: an M3U list leaves out items
 * whose location is empty or begins with "#" (only a CUE sheet has them);
 * a streaming list leaves out items whose location has no http://,
 * https:// or rtsp:// (and writes no durations, attributes or options),
 * and writes each ASCII comma of a name as U+201A and each full-width
 * comma as U+3001, which do not separate. Across formats the M3U reader
 * trims titles and locations, and takes a title's part after its last
 * comma outside double quotes (a CUE title "A, B" reads back as "B"); no
 * title of an M3U parse has such a comma. A CUE track without a FILE
 * written after one with a FILE (from appending several sheets) reads back
 * with that FILE.
 *
 * Text: UTF-8 as the parse decoded it (strings are written as stored,
 * bytes the decoder let through included), lines ended by LF. A text that
 * would begin with U+FEFF (a streaming-list name) is written after a
 * byte-order mark, so that the reader drops the mark, not the character.
 */

#define KAVLO_WRITE_BOM 1u   /* begin with the UTF-8 byte-order mark EF BB BF */
#define KAVLO_WRITE_CRLF 2u  /* end every line with CR LF instead of LF */

/* Writes the result held by `p` in `format`: KAVLO_FORMAT_M3U or
 * KAVLO_FORMAT_STREAMING_LIST from any result, KAVLO_FORMAT_CUE from a CUE
 * result, KAVLO_FORMAT_AUTO in the result's own format. `flags` is 0 or an
 * OR of the KAVLO_WRITE_ values. On success returns KAVLO_OK, sets *text
 * to the NUL-terminated text (owned by `p`, valid until the next write,
 * parse, clear or free of `p`) and *length, unless `length` is NULL, to
 * its size in bytes. Otherwise *text is NULL and *length 0, and the text of
 * an earlier write is no longer valid:
 *   KAVLO_ERR_INVALID  `p` or `text` is NULL, or `flags` has other bits;
 *   KAVLO_ERR_FORMAT   `format` is none of those, a CUE sheet is asked of
 *                      a result that is not one, or KAVLO_FORMAT_AUTO of a
 *                      result in no writable format (a refused HLS text);
 *   KAVLO_ERR_NOMEM    the text could not be allocated; nothing partial is
 *                      returned.
 * The result and the last error of `p` are not changed. */
KAVLO_API int kavlo_playlist_write(kavlo_playlist *p, int format, unsigned flags, const char **text,
                                   size_t *length) KAVLO_NOEXCEPT;

/* Appends copies of items of `src` to `dst`: items[0] to items[count - 1]
 * in that order (repeats allowed), or, for `items` NULL and `count` 0,
 * every item of `src` in order. Each copy keeps its location, title,
 * duration number, attributes, options, request headers, line and
 * streaming group; from a CUE sheet into a CUE sheet, the item's track
 * comes with it (number, fields, data type, FILE, indices, gaps, REM
 * lines). A `dst` that has not parsed since it was made or cleared, and
 * holds nothing yet, first takes the format of `src`, the attributes of
 * its #EXTM3U line, and its CUE sheet fields and sheet REM lines;
 * otherwise `dst` keeps its own (parse "#EXTM3U" into a new handle to
 * collect CUE tracks as M3U items). The IMDb flag of an
 * M3U `dst` is decided again over all its items, as a parse does. Warnings,
 * last error and encoding of `dst` stay; strings it returned stay valid.
 * All or nothing: on failure `dst` holds what it held. Returns KAVLO_OK,
 * KAVLO_ERR_INVALID (a NULL handle, `src` equal to `dst`, NULL `items`
 * with `count` above 0, an index out of range), KAVLO_ERR_FORMAT (items
 * of another format into a CUE sheet that holds something) or
 * KAVLO_ERR_NOMEM. */
KAVLO_API int kavlo_playlist_append(kavlo_playlist *dst, const kavlo_playlist *src, const int *items,
                                    size_t count) KAVLO_NOEXCEPT;

/* Building a result entry by entry, to write a list a program made or
 * edited with kavlo_playlist_write(). A handle that holds nothing (new or
 * cleared) becomes an M3U result with its first item or #EXTM3U attribute;
 * items may also be added to an M3U or streaming-list result after its
 * parse. Every string must be UTF-8 without CR or LF, and must be one the
 * M3U reader gives back from the written text:
 *   location  something left after trimming, not starting with "#";
 *   key       of an attribute: not empty, no "=" and no white space;
 *   value     of an attribute: one that holds a double quote is written
 *             bare, so it may then hold no white space and not begin
 *             with the quote;
 *   tag       of an option: a letter, then letters, digits, "-" and "_";
 *             not EXTINF..., EXTGRP, EXTM3U or PLAYLIST, which the reader
 *             acts on; its key may hold no "=", its value not end in
 *             white space (the reader trims the line).
 * The location and title are kept trimmed, as the reader gives them back;
 * a title holding a comma reads back as the text after its last comma (the
 * reader's title rule). A group is the attribute "group-title" (written as
 * a "NAME,#genre#" line in a streaming list). Built items have line 0; the
 * request headers of a location's "|" suffix and of the attributes are
 * read as for a parsed item, those of options when the written text is
 * parsed.
 * Each returns KAVLO_OK; KAVLO_ERR_INVALID, storing nothing, for a NULL
 * handle or string (a title or an option's key and value may be NULL), a
 * string not as above, a result of another format (CUE, HLS, unknown), an
 * attribute past the 64th of its line, a duration under -1 or over
 * 2147483000 ms, an #EXTM3U attribute after the first item, or an
 * attribute or option before any item; KAVLO_ERR_NOMEM, leaving the result
 * as it was. */

/* Appends an item: its location, title (NULL for none) and duration in
 * milliseconds (-1 for none; kept in whole seconds, as #EXTINF writes it). */
KAVLO_API int kavlo_playlist_add_item(kavlo_playlist *p, const char *location, const char *title,
                                      int64_t duration_ms) KAVLO_NOEXCEPT;
/* Appends an attribute of the #EXTINF line of the item added last. */
KAVLO_API int kavlo_playlist_add_attr(kavlo_playlist *p, const char *key, const char *value) KAVLO_NOEXCEPT;
/* Appends a tag line of the item added last, written before its #EXTINF
 * line as "#TAG", "#TAG:KEY" or "#TAG:KEY=VALUE" (`tag` without its "#"):
 * tag "EXTVLCOPT", key "http-user-agent", value "x" gives
 * "#EXTVLCOPT:http-user-agent=x". */
KAVLO_API int kavlo_playlist_add_option(kavlo_playlist *p, const char *tag, const char *key,
                                        const char *value) KAVLO_NOEXCEPT;
/* Appends an attribute of the #EXTM3U line; only before the first item. */
KAVLO_API int kavlo_playlist_add_header_attr(kavlo_playlist *p, const char *key,
                                             const char *value) KAVLO_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* KAVLO_H */
