// Warnings, losses and the last error of the result store.
#include "messages.h"

#include <cstdio>
#include <cstring>

#include "kavlo.h"
#include "../mem.h"
#include "../text/utf8.h"

namespace kavlo {

void format_message(char *out, const char *fmt, va_list ap) noexcept {
  char buf[message_size + 4];
  int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  if (n < 0) {
    out[0] = '\0';
    return;
  }
  size_t len = static_cast<size_t>(n);
  size_t avail = len < sizeof buf - 1 ? len : sizeof buf - 1;
  size_t keep = utf8_safe_cut(buf, avail, message_size - 1);
  std::memcpy(out, buf, keep);
  out[keep] = '\0';
}

namespace {

// A subject cut to what a message can hold; "" when it cannot be copied.
const char *copy_subject(Store &s, std::string_view subject) noexcept {
  const size_t keep = utf8_safe_cut(subject.data(), subject.size(), message_size - 1);
  const char *c = copy_string(s, subject.substr(0, keep));
  return c != nullptr ? c : "";
}

void vwarn(Store &s, uint64_t line, std::string_view subject, const char *fmt, va_list ap) noexcept {
  char buf[message_size];
  if (s.warning_count >= max_warnings) {
    if (s.warnings_dropped++ == 0) {
      format_message(buf, fmt, ap);
      s.warnings_dropped_first = copy_string(s, buf);
      s.warnings_dropped_line = line;
    }
    return;
  }
  format_message(buf, fmt, ap);
  // A warning whose copy fails keeps its slot: the count and the order of
  // the others stay as raised, and the accessor answers NULL for it.
  const int k = s.warning_count++;
  s.warnings[k] = copy_string(s, buf);
  s.warning_line[k] = line;
  s.warning_subject[k] = copy_subject(s, subject);
  if (s.warnings[k] != nullptr) s.warning_diagnosed[s.warning_diagnosed_count++] = static_cast<uint16_t>(k);
}

}  // namespace

void warn_at(Store &s, uint64_t line, std::string_view subject, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  vwarn(s, line, subject, fmt, ap);
  va_end(ap);
}

void warnf(Store &s, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  vwarn(s, 0, {}, fmt, ap);
  va_end(ap);
}

void loss_at(Store &s, uint64_t line, std::string_view subject, const char *fmt, ...) noexcept {
  char buf[message_size];
  va_list ap;
  va_start(ap, fmt);
  format_message(buf, fmt, ap);
  va_end(ap);
  if (s.loss_used >= static_cast<size_t>(max_losses)) {
    if (s.losses_dropped++ == 0) {
      s.losses_dropped_first = copy_string(s, buf);
      s.losses_dropped_line = line;
    }
    return;
  }
  // Under memory pressure a loss goes unrecorded.
  if (append_slot(s.losses, s.loss_capacity, s.loss_used, 16) == nullptr) return;
  const char *message = copy_string(s, buf);
  if (message == nullptr) return;
  s.losses[s.loss_used++] = Loss{line, message, copy_subject(s, subject), s.warning_diagnosed_count};
}

void finish_diagnostics(Store &s) noexcept {
  if (s.warnings_dropped != 0)
    std::snprintf(s.warnings_dropped_message, sizeof s.warnings_dropped_message,
                  "warnings past the %dth dropped: %zu", max_warnings, s.warnings_dropped);
  if (s.losses_dropped != 0)
    std::snprintf(s.losses_dropped_message, sizeof s.losses_dropped_message,
                  "diagnostics past the %dth dropped: %zu", max_losses, s.losses_dropped);
}

void set_error(Store &s, const char *fmt, ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  format_message(s.last_error, fmt, ap);
  va_end(ap);
}

}  // namespace kavlo
