// The encoding guess for bytes whose encoding nobody named ("auto"): which
// encoding to decode them with, or none when the library's own decoding
// (byte-order mark, UTF-8 check, fallback chain) should read them.
//
// In order:
//  1. A byte-order mark (EF BB BF, FF FE, FE FF, and the UTF-32 marks
//     FF FE 00 00 and 00 00 FE FF): no answer, the decoder reads the mark.
//  2. UTF-16 without a mark: an even length, and of the units of the first
//     4 KiB at least 90% have a NUL in the same half and at most 10% one in
//     the other: "UTF-16LE" (NUL in the odd bytes) or "UTF-16BE". This comes
//     before the UTF-8 check, which such text passes whenever its
//     characters lie below U+0080.
//  3. Text that passes the library's structural UTF-8 check: no answer.
//  4. uchardet's name for the text (a short text is shown to it repeatedly,
//     so that its multi-byte models can answer), mended where a fact about
//     the bytes settles it: kana make Japanese text EUC-JP or SHIFT_JIS, a
//     CJK name for text whose high bytes never stand side by side gives way
//     to a Latin page, and a Latin page that would put a sign or a control
//     code inside a word gives way to WINDOWS-1252, ISO-8859-2 or
//     WINDOWS-1250 (guess.cpp has the details). "ASCII", "UTF-8" and wide
//     names from the detector are no answer; "GB18030" is named "GBK", the
//     library's name for it.
//
// Built without uchardet (KAVLO_WITH_UCHARDET=0, as for a WebAssembly
// build), step 4 gives no answer: only UTF-16 without a mark is named.
//
// A guess can be wrong: single-byte pages accept almost any bytes, so a
// short text may come back in a neighbouring page, and a named conversion
// can still fail, in which case the caller hands the bytes over unnamed.
// Thread-safe (every call has its own detector and converters), allocates
// nothing that outlives the call, throws nothing.
#pragma once

#include <cstddef>

namespace kavlo {

constexpr size_t guess_name_size = 48;

// For bytes whose encoding nobody named: writes into `name` the encoding to
// decode them with and returns true, or returns false when the library's own
// decoding should read them (a byte-order mark — UTF-8, UTF-16 or UTF-32 —
// valid UTF-8, or no answer). `name` is "" after false.
bool guess_encoding(const char *bytes, size_t len, char (&name)[guess_name_size]) noexcept;

}  // namespace kavlo
