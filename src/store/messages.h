// Messages of the result store: warnings with their line and subject,
// the losses no warning reports, and the last error, formatted and cut to
// what a message holds.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string_view>

#include "store.h"

namespace kavlo {

// Appends a formatted warning raised by line `line` (0: the text as a
// whole) about `subject` (the tag, key or URL concerned; "" for none).
// At most 512 are kept, each cut to 511 bytes without splitting a UTF-8
// character; later ones are counted, and the text and line of the first of
// them kept. warnf is warn_at for the text as a whole, without a subject.
void warn_at(Store &s, uint64_t line, std::string_view subject, const char *fmt, ...) noexcept
    __attribute__((format(printf, 4, 5)));
void warnf(Store &s, const char *fmt, ...) noexcept __attribute__((format(printf, 2, 3)));

// Records a loss that no warning reports (an attribute past the cap, text
// cut at a NUL byte, ...), as warn_at records a warning: at most 512 are
// kept, later ones counted.
void loss_at(Store &s, uint64_t line, std::string_view subject, const char *fmt, ...) noexcept
    __attribute__((format(printf, 4, 5)));

// Writes the messages of the counts of dropped warnings and losses; run
// after a parse and after anything else that may warn.
void finish_diagnostics(Store &s) noexcept;

// Replaces the last error with a formatted message.
void set_error(Store &s, const char *fmt, ...) noexcept __attribute__((format(printf, 2, 3)));

// Formats into `out` (message_size bytes), cutting long texts before a
// UTF-8 character that would be split. Exposed for tests.
void format_message(char *out, const char *fmt, va_list ap) noexcept;

// Length argument for "%.*s" of a view: no more than a message can hold.
inline int msg_len(std::string_view v) noexcept {
  return v.size() < message_size ? static_cast<int>(v.size()) : static_cast<int>(message_size);
}

}  // namespace kavlo
