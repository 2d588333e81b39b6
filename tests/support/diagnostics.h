// Diagnostics of a playlist handle against its warnings and its text:
// every warning has its diagnostic, at a line of the text.
#pragma once

#include <cstddef>
#include <string_view>

#include "kavlo.h"

namespace kt {

// Lines of `text` as the parsers count them (LF, CR or CR LF end a line;
// a last line without an end counts). For text in UTF-16 the count of its
// bytes is an upper bound of the count of its decoded lines.
size_t line_count(std::string_view text);

// Every warning of `p` has a diagnostic with its text, in the same order,
// at a line from 1 to `lines` (0 for a decoding warning, which concerns the
// whole text); the other diagnostics stand at lines within the text too.
void check_diagnostics(const kavlo_playlist *p, size_t lines);

}  // namespace kt
