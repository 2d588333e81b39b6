// The whole result store as one compact JSON document.
#pragma once

#include "../store/store.h"

namespace kavlo {

// Writes the document into the store's output block (s.json_text, kept and
// reused by the next call) and returns it, or returns the constant "{}"
// when no text can be made: the block cannot be had, or a string of the
// store is not strict UTF-8.
//
// The text is byte for byte what yyjson writes, with flag word 0, for the
// mutable document of the same members: compact, "/" and characters above
// U+007F unescaped, \" \\ \b \t \n \f \r and \u00XX (upper-case hex) for the
// other control characters.
const char *result_json(Store &s) noexcept;

// The full document: the same, with the members that only it carries
// appended at the end of the objects they extend, in the same block.
const char *result_json_full(Store &s) noexcept;

}  // namespace kavlo
