// Reading a playlist file whole: a regular file by its size, a stream
// (pipe, FIFO, character device) to its end, into one block of the
// store's allocator. Files of 2 GiB or more are refused. Failures set the
// store's last error ("io: ..." with the system's message).
#pragma once

#include <cstddef>

#include "../mem.h"
#include "../store/store.h"

namespace kavlo {

// A file's bytes with a NUL after them, in a block of the store's
// allocator (a mapping of its own when large).
struct ReadBlock {
  char *data = nullptr;
  size_t bytes = 0;
  ReadBlock() = default;
  ReadBlock(const ReadBlock &) = delete;
  ReadBlock &operator=(const ReadBlock &) = delete;
  ~ReadBlock() { block_free(data, bytes); }
};

// Reads the file at `path` into `buf` and sets `got` to its size. With
// `streams`, anything that is not a regular file is read as a stream (a
// FIFO waits for its writer); without, only what can seek is read.
// KAVLO_OK, KAVLO_ERR_INVALID (NULL path), KAVLO_ERR_IO or KAVLO_ERR_NOMEM.
[[nodiscard]] int read_path(Store &s, const char *path, bool streams, ReadBlock &buf, size_t &got) noexcept;

// Reads what is left of the open descriptor `fd` (a regular file from its
// position, anything else as a stream), without closing it.
[[nodiscard]] int read_fd(Store &s, int fd, ReadBlock &buf, size_t &got) noexcept;

// Sets the store's last error to "io: " and the system's message for `err`.
void set_io_error(Store &s, int err) noexcept;

}  // namespace kavlo
