// The whole result store as one compact JSON document.
#pragma once

#include "../store.h"

namespace kavlo {

// Builds the document, keeps its text in s.json_text and returns it, or
// returns the constant "{}" when no text can be made.
const char *result_json(Store &s) noexcept;

}  // namespace kavlo
