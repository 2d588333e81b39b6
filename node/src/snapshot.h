// The outcome of one parse, copied out of the library's result store so
// that it outlives the next parse and can cross threads.
#ifndef KAVLO_NODE_SNAPSHOT_H
#define KAVLO_NODE_SNAPSHOT_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kavlo_node {

// Marks a key the object already had: the first one wins, as with the
// library's own attribute lookup, and the value is not taken.
constexpr uint32_t repeated_key = UINT32_MAX;

// Bits of Snapshot::item_masks.
constexpr uint8_t item_has_url = 1;
constexpr uint8_t item_has_group = 2;

// A growable byte buffer that can be cut short and moved; throws
// std::bad_alloc.
class Bytes {
 public:
  Bytes() = default;
  Bytes(const Bytes &) = delete;
  Bytes &operator=(const Bytes &) = delete;
  Bytes(Bytes &&o) noexcept { swap(o); }
  Bytes &operator=(Bytes &&o) noexcept {
    swap(o);
    return *this;
  }
  ~Bytes();

  const char *data() const { return data_; }
  char *data() { return data_; }
  size_t size() const { return size_; }
  void reserve(size_t n);
  void append(const char *p, size_t n) {
    if (cap_ - size_ < n) reserve(size_ + n);
    if (n) __builtin_memcpy(data_ + size_, p, n);
    size_ += n;
  }
  void truncate(size_t n) { size_ = n < size_ ? n : size_; }
  void push_back(char c) {
    if (size_ == cap_) reserve(size_ + 1);
    data_[size_++] = c;
  }

 private:
  void swap(Bytes &o) noexcept;
  char *data_ = nullptr;
  size_t size_ = 0, cap_ = 0;
};

// One chunk of strings for JavaScript: the bytes [begin, end) of
// Snapshot::strings, passed on as Latin-1 when they are all ASCII, else
// converted to UTF-16.
struct Chunk {
  size_t begin = 0, end = 0;
  bool ascii = true;
  std::u16string utf16;
};

// The strings are numbered in the order index.js reads them, which is the
// order of the full document:
//   per item: title, location, the values of its attributes (repeated keys
//     skipped), tag, key and value of each option, url (item_has_url), the
//     values of its headers, group (item_has_group);
//   the sheet: title (mask bit 0), performer (bit 1), the tracks,
//     songwriter (bit 2), catalog (bit 3), cdtextfile (bit 4), key and
//     value of each REM line;
//   per track: title (bit 0), file (bit 1), performer (bit 2), songwriter
//     (bit 3), isrc (bit 4), flags (bit 5), datatype (bit 6), key and value
//     of each REM line;
//   the warnings; the values of the #EXTM3U line's attributes.
// Keys of attributes, headers and header attributes are ids into `keys`.
struct Snapshot {
  int status = 0;
  std::string error;
  std::string encoding;      // encoding "auto": the one used ("" unknown)
  int format = 0;
  bool imdb = false;

  Bytes strings;             // every string, back to back, as UTF-8
  std::vector<size_t> ends;  // end of string k in `strings`
  // Short strings that repeat are sent once: refs[k] = n > 0 when string k
  // is sent and is remembered as repeat n, -n when string k is repeat n
  // and has no bytes of its own, 0 otherwise.
  std::vector<int32_t> refs;
  int32_t repeat_count = 0;
  std::deque<std::string> keys;
  int64_t proto_key = -1;    // id of the key "__proto__", which needs care

  std::vector<int32_t> durations, release_dates, lines;
  std::vector<uint8_t> item_masks;
  std::vector<uint32_t> attr_counts, attr_keys;      // attr_keys: ids or repeated_key
  std::vector<uint32_t> option_counts;
  std::vector<uint32_t> header_counts, header_keys;  // the location's headers

  bool has_cue = false;
  uint8_t sheet_mask = 0;
  uint32_t sheet_rem_count = 0;
  std::vector<int32_t> track_numbers;
  std::vector<uint8_t> track_masks;
  std::vector<double> pregaps, postgaps;  // frames, -1 when absent
  std::vector<uint32_t> track_rem_counts, index_counts;
  std::vector<int32_t> index_numbers, index_ms;
  std::vector<double> index_frames;

  uint32_t warning_count = 0;
  std::vector<uint32_t> m3u_header_keys;  // attributes of the #EXTM3U line
  Bytes json;                             // the full document

  // Made by cut(): the chunks, the first string of each (and the string
  // count at the end), and the end of each string in its chunk, in code
  // units.
  std::vector<Chunk> chunks;
  std::vector<uint32_t> chunk_first;
  std::vector<uint32_t> unit_ends;

  void add(const char *s, size_t n) {
    strings.append(s, n);
    ends.push_back(strings.size());
    refs.push_back(0);
  }

  // The entries of one item, track or index in the tables above.
  void add_item(int32_t duration, int32_t release_date, int32_t line, uint8_t mask, uint32_t attrs,
                uint32_t options, uint32_t headers) {
    durations.push_back(duration);
    release_dates.push_back(release_date);
    lines.push_back(line);
    item_masks.push_back(mask);
    attr_counts.push_back(attrs);
    option_counts.push_back(options);
    header_counts.push_back(headers);
  }
  void add_track(int32_t number, uint8_t mask, double pregap, double postgap, uint32_t rems, uint32_t indices) {
    track_numbers.push_back(number);
    track_masks.push_back(mask);
    pregaps.push_back(pregap);
    postgaps.push_back(postgap);
    track_rem_counts.push_back(rems);
    index_counts.push_back(indices);
  }
  void add_index(int32_t number, double frames, int32_t ms) {
    index_numbers.push_back(number);
    index_frames.push_back(frames);
    index_ms.push_back(ms);
  }
};

// Copies the result of the last parse out of the library's store: from
// its full document, or through the accessors when no document could be
// written. Call with the library's lock held.
void collect(Snapshot &s);

// Splits the strings into chunks for JavaScript; any thread.
void cut(Snapshot &s);

}  // namespace kavlo_node

#endif  // KAVLO_NODE_SNAPSHOT_H
