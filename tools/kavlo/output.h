// Standard output of the tool: every write goes through out(), and JSON
// strings and documents are written here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavlo_cli {

// Writes n bytes; false once any write failed (the first failure is kept
// and ends the run). A closed pipe does not return: see output.cpp.
bool out(const char *p, size_t n);
bool out(std::string_view s);
// True while nothing written has failed.
bool out_ok();
// Flushes standard output; false, with a message, when anything written
// failed.
bool out_finish();

// A JSON document and a line end, indented (yyjson) with `pretty`.
bool out_json(const char *json, size_t n, bool pretty);

// How bytes that are not valid UTF-8 are written.
enum class Stray { replace, escape };

// Appends s as a JSON string. A stray byte becomes U+FFFD (replace), or the
// text \xHH with every backslash of s doubled (escape), so that the exact
// bytes can be recovered.
void append_json_string(std::string &o, std::string_view s, Stray stray);

}  // namespace kavlo_cli
