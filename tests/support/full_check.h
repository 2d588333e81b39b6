// Checks of a playlist handle against its full document: the members that
// only the full document carries are the rendering of the handle's
// accessors, and every warning has its diagnostic.
#pragma once

#include <cstddef>
#include <string_view>

#include "kavlo.h"

namespace kt {

// Lines of `text` as the parsers count them (LF, CR or CR LF end a line;
// a last line without an end counts). For text in UTF-16 the count of its
// bytes is an upper bound of the count of its decoded lines.
size_t line_count(std::string_view text);

// The full document of `p` against its accessors: items' "line",
// "options", "url", "headers", "alternates", "label", "groups", "http" and
// "catchup", and the root's "title", "epg" and "diagnostics".
void check_full_against_accessors(kavlo_playlist *p);

// Every warning of `p` has a diagnostic with its text, in the same order,
// at a line from 1 to `lines` (0 for a decoding warning, which concerns the
// whole text); the other diagnostics stand at lines within the text too.
void check_diagnostics(const kavlo_playlist *p, size_t lines);

}  // namespace kt
