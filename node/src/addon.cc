// Node-API addon over the kavlo C interface.
//
// The library keeps one process-wide result store and has no locks. Every
// call into it happens here under `library_mutex`, and the outcome of a
// parse is copied out into a Snapshot before the lock is released. The
// JavaScript objects are then built from the snapshot on the main thread,
// so a parse running on a worker thread (parseAsync) never touches
// JavaScript and a result never depends on the store once it is returned.
#include <napi.h>

#include <kavlo.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

std::mutex library_mutex;

constexpr const char *sheet_keys[] = {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE"};
constexpr int sheet_field_count = 5;
constexpr const char *track_keys[] = {"TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS", "DATATYPE"};
constexpr int track_field_count = 7;

// Marks an attribute whose key the item already had: the first one wins,
// as with the library's own lookup, and the value is not taken.
constexpr uint32_t repeated_key = UINT32_MAX;

// Strings go to JavaScript in chunks of about this many code units: one
// JavaScript string per chunk, which index.js cuts into the result's
// strings with slice(). A slice keeps its chunk alive, so chunks are kept
// small; a longer string gets a chunk of its own.
constexpr size_t chunk_units = size_t{1} << 20;

// One chunk: the bytes [begin, end) of Snapshot::strings, passed on as
// Latin-1 when they are all ASCII, else converted to UTF-16.
struct Chunk {
  size_t begin = 0, end = 0;
  bool ascii = true;
  std::u16string utf16;
};

// Everything a result holds, copied out of the library's store. The
// strings are numbered in the order index.js reads them: per item its
// location, title and attribute values (repeated keys skipped); the
// sheet's present fields; per track its present fields; the warnings.
struct Snapshot {
  int status = KAVLO_OK;
  std::string error;
  int format = 0;
  bool imdb = false;

  std::string strings;         // every string, back to back, as UTF-8
  std::vector<size_t> ends;    // end of string k in `strings`

  std::vector<int32_t> durations, release_dates;
  std::vector<uint8_t> attr_counts;
  std::vector<uint32_t> attr_keys;  // index into `keys`, or repeated_key
  std::vector<std::string> keys;    // distinct attribute keys
  int64_t proto_key = -1;           // the key "__proto__", which needs care

  bool has_cue = false;
  uint8_t sheet_mask = 0;  // bit f: sheet field f is present
  std::vector<int32_t> track_numbers;
  std::vector<uint8_t> track_masks;
  std::vector<uint32_t> index_counts;
  std::vector<int32_t> index_numbers, index_ms;
  std::vector<double> index_frames;

  uint32_t warning_count = 0;
  std::string json;

  // Made by cut(): the chunks, the first string of each (and the string
  // count at the end), and the end of each string in its chunk, in code
  // units.
  std::vector<Chunk> chunks;
  std::vector<uint32_t> chunk_first;
  std::vector<uint32_t> unit_ends;

  void add(const char *s, size_t n) {
    strings.append(s, n);
    ends.push_back(strings.size());
  }
  void add(const char *s) { add(s, s ? std::strlen(s) : 0); }
  // Adds `s` when present; returns whether it was.
  bool add_present(const char *s) {
    if (s == nullptr) return false;
    add(s);
    return true;
  }
};

// ---- Reading the store (under the lock) --------------------------------

// The store keeps one copy of each distinct attribute key, so keys are
// told apart by address; `slot_cache` remembers the last key seen at each
// attribute position, which is the common case of a list whose entries all
// carry the same attributes in the same order.
class KeyTable {
 public:
  explicit KeyTable(Snapshot &s) : s_(s) {}

  uint32_t id(const char *key, uint32_t slot) {
    if (slot < slot_cache_.size() && slot_cache_[slot].first == key) return slot_cache_[slot].second;
    auto [it, inserted] = ids_.try_emplace(key, 0);
    if (inserted) {
      // Equal keys at different addresses still get one id.
      auto [jt, fresh] = by_text_.try_emplace(key, static_cast<uint32_t>(s_.keys.size()));
      if (fresh) {
        if (std::strcmp(key, "__proto__") == 0) s_.proto_key = jt->second;
        s_.keys.emplace_back(key);
      }
      it->second = jt->second;
    }
    if (slot >= slot_cache_.size()) slot_cache_.resize(slot + 1, {nullptr, 0});
    slot_cache_[slot] = {key, it->second};
    return it->second;
  }

 private:
  Snapshot &s_;
  std::unordered_map<const char *, uint32_t> ids_;
  std::unordered_map<std::string, uint32_t> by_text_;
  std::vector<std::pair<const char *, uint32_t>> slot_cache_;
};

// The track number has no accessor; the document has it as the first
// member of each track object. Inside the "cue" member, the text
// {"number": can only start a track object: quotes inside strings are
// escaped, and index objects start with "n".
void read_track_numbers(Snapshot &s, const char *json) {
  const char *p = std::strstr(json, "\"cue\":{");
  if (p == nullptr) return;
  static constexpr char marker[] = "{\"number\":";
  for (int32_t &number : s.track_numbers) {
    p = std::strstr(p, marker);
    if (p == nullptr) return;
    p += sizeof marker - 1;
    uint64_t n = 0;
    const bool negative = *p == '-';
    if (negative) ++p;
    for (; *p >= '0' && *p <= '9'; ++p) n = n * 10 + static_cast<uint64_t>(*p - '0');
    number = static_cast<int32_t>(negative ? 0 - n : n);
  }
}

void collect(Snapshot &s, size_t size_hint) {
  s.format = kavlo_detected_format();
  s.imdb = kavlo_m3u_is_imdb_date_playlist() != 0;
  s.strings.reserve(size_hint + 64);
  const int n = kavlo_item_count();
  const auto items = static_cast<size_t>(n);
  s.durations.reserve(items);
  s.release_dates.reserve(items);
  s.attr_counts.reserve(items);
  s.ends.reserve(items * 6);
  KeyTable keys(s);
  uint32_t seen[64];
  for (int i = 0; i < n; ++i) {
    s.add(kavlo_item_location(i));
    s.add(kavlo_item_title(i));
    s.durations.push_back(kavlo_item_duration_ms(i));
    s.release_dates.push_back(kavlo_item_release_date(i));
    const int na = kavlo_item_attr_count(i);
    uint32_t taken = 0;
    for (int a = 0; a < na && a < 64; ++a) {
      const char *key = kavlo_item_attr_key(i, a);
      uint32_t id = key ? keys.id(key, static_cast<uint32_t>(a)) : repeated_key;
      for (uint32_t j = 0; j < taken && id != repeated_key; ++j)
        if (seen[j] == id) id = repeated_key;
      s.attr_keys.push_back(id);
      if (id == repeated_key) continue;
      seen[taken++] = id;
      s.add(kavlo_item_attr(i, key));
    }
    s.attr_counts.push_back(static_cast<uint8_t>(na < 64 ? na : 64));
  }
  if (s.format == KAVLO_FORMAT_CUE) {
    s.has_cue = true;
    for (int f = 0; f < sheet_field_count; ++f)
      if (s.add_present(kavlo_cue_meta(sheet_keys[f]))) s.sheet_mask |= static_cast<uint8_t>(1u << f);
    const int nt = kavlo_cue_track_count();
    for (int t = 0; t < nt; ++t) {
      uint8_t mask = 0;
      for (int f = 0; f < track_field_count; ++f)
        if (s.add_present(kavlo_cue_track_field(t, track_keys[f]))) mask |= static_cast<uint8_t>(1u << f);
      s.track_masks.push_back(mask);
      s.track_numbers.push_back(0);
      const int ni = kavlo_cue_track_index_count(t);
      s.index_counts.push_back(static_cast<uint32_t>(ni));
      for (int x = 0; x < ni; ++x) {
        s.index_numbers.push_back(kavlo_cue_track_index_number(t, x));
        s.index_frames.push_back(static_cast<double>(kavlo_cue_track_index_frames(t, x)));
        s.index_ms.push_back(kavlo_cue_track_index_ms(t, x));
      }
    }
  }
  const int nw = kavlo_warning_count();
  for (int w = 0; w < nw; ++w) s.add(kavlo_warning(w));
  s.warning_count = static_cast<uint32_t>(nw);
  const char *json = kavlo_result_json();
  s.json = json;
  if (!s.track_numbers.empty()) read_track_numbers(s, json);
}

// ---- Strings for JavaScript (any thread) -----------------------------------

bool all_ascii(const char *p, size_t n) {
  uint64_t acc = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    acc |= w;
  }
  for (; i < n; ++i) acc |= static_cast<unsigned char>(p[i]);
  return (acc & 0x8080808080808080ull) == 0;
}

// Appends the UTF-16 form of `n` bytes of UTF-8. The library's strings are
// UTF-8 except for bytes its last decoding fallback kept as they were; each
// byte that does not start a well-formed sequence becomes U+FFFD.
void append_utf16(std::u16string &out, const unsigned char *p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++i;
      continue;
    }
    uint32_t cp = 0;
    size_t len = 0;
    uint32_t min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, cp = c & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (size_t j = 1; ok && j < len; ++j) {
      if ((p[i + j] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + j] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
}

// Splits the strings into chunks and converts those that are not ASCII.
void cut(Snapshot &s) {
  const size_t count = s.ends.size();
  s.unit_ends.resize(count);
  size_t k = 0;
  while (k < count) {
    Chunk c;
    c.begin = k == 0 ? 0 : s.ends[k - 1];
    size_t last = k;  // one past the chunk's last string
    while (last < count && (last == k || s.ends[last] - c.begin <= chunk_units)) ++last;
    c.end = s.ends[last - 1];
    c.ascii = all_ascii(s.strings.data() + c.begin, c.end - c.begin);
    s.chunk_first.push_back(static_cast<uint32_t>(k));
    if (c.ascii) {
      for (size_t j = k; j < last; ++j) s.unit_ends[j] = static_cast<uint32_t>(s.ends[j] - c.begin);
    } else {
      c.utf16.reserve(c.end - c.begin);
      size_t from = c.begin;
      for (size_t j = k; j < last; ++j) {
        append_utf16(c.utf16, reinterpret_cast<const unsigned char *>(s.strings.data()) + from, s.ends[j] - from);
        from = s.ends[j];
        s.unit_ends[j] = static_cast<uint32_t>(c.utf16.size());
      }
    }
    s.chunks.push_back(std::move(c));
    k = last;
  }
  s.chunk_first.push_back(static_cast<uint32_t>(count));
}

// ---- Requests ------------------------------------------------------------

// One call of the library: a text in memory or a file, with its options.
// Runs on any thread; touches no JavaScript value.
struct Request {
  enum Kind { text, file } kind = text;
  const char *data = nullptr;  // the bytes to parse (kind text)
  size_t size = 0;
  std::string owned;           // holds the bytes when the request owns them
  std::string path;            // kind file
  int format = KAVLO_FORMAT_AUTO;
  bool has_encoding = false;
  std::string encoding;        // the name handed to the library

  const char *encoding_name() const { return has_encoding ? encoding.c_str() : nullptr; }
};

// Runs the request and fills `s`. Never throws: a failed allocation while
// copying the result out ends as KAVLO_ERR_NOMEM.
void run(const Request &r, Snapshot &s) noexcept {
  try {
    {
      std::lock_guard<std::mutex> lock(library_mutex);
      if (r.kind == Request::file) {
        s.status = kavlo_parse_file_enc(r.path.c_str(), r.encoding_name());
      } else {
        s.status = kavlo_parse_enc(r.size ? r.data : "", r.size, r.format, r.encoding_name());
      }
      if (s.status != KAVLO_OK) {
        s.error = kavlo_last_error();
      } else {
        collect(s, r.kind == Request::file ? 0 : r.size);
      }
      kavlo_clear();  // releases the store's memory; the snapshot has it all
    }
    if (s.status == KAVLO_OK) cut(s);
  } catch (const std::bad_alloc &) {
    s = Snapshot{};
    s.status = KAVLO_ERR_NOMEM;
  }
}

// ---- Building the JavaScript result (main thread) ------------------------

// The functions of index.js the addon calls: build(raw) makes the Result
// from the tables below, KavloError(status, message) the error.
struct AddonData {
  Napi::FunctionReference build, error_class;
};

template <typename T>
Napi::Value typed(Napi::Env env, const std::vector<T> &v) {
  Napi::ArrayBuffer buf = Napi::ArrayBuffer::New(env, v.size() * sizeof(T));
  if (!v.empty()) std::memcpy(buf.Data(), v.data(), v.size() * sizeof(T));
  if constexpr (std::is_same_v<T, uint8_t>) return Napi::Uint8Array::New(env, v.size(), buf, 0);
  if constexpr (std::is_same_v<T, int32_t>) return Napi::Int32Array::New(env, v.size(), buf, 0);
  if constexpr (std::is_same_v<T, uint32_t>) return Napi::Uint32Array::New(env, v.size(), buf, 0);
  if constexpr (std::is_same_v<T, double>) return Napi::Float64Array::New(env, v.size(), buf, 0);
}

Napi::Value chunk_text(Napi::Env env, const Snapshot &s, const Chunk &c) {
  napi_value v;
  napi_status st = c.ascii ? napi_create_string_latin1(env, s.strings.data() + c.begin, c.end - c.begin, &v)
                           : napi_create_string_utf16(env, c.utf16.data(), c.utf16.size(), &v);
  if (st != napi_ok) throw Napi::Error::New(env);
  return Napi::Value(env, v);
}

// The result as tables that index.js turns into objects (see build() there).
Napi::Value raw_result(Napi::Env env, Snapshot &s) {
  Napi::Object raw = Napi::Object::New(env);
  raw.Set("format", kavlo_format_name(s.format));
  raw.Set("imdb", s.imdb);
  Napi::Array texts = Napi::Array::New(env, s.chunks.size());
  for (size_t c = 0; c < s.chunks.size(); ++c) texts.Set(static_cast<uint32_t>(c), chunk_text(env, s, s.chunks[c]));
  raw.Set("texts", texts);
  raw.Set("chunkFirst", typed(env, s.chunk_first));
  raw.Set("ends", typed(env, s.unit_ends));
  raw.Set("durations", typed(env, s.durations));
  raw.Set("releaseDates", typed(env, s.release_dates));
  raw.Set("attrCounts", typed(env, s.attr_counts));
  raw.Set("attrKeys", typed(env, s.attr_keys));
  Napi::Array keys = Napi::Array::New(env, s.keys.size());
  for (size_t k = 0; k < s.keys.size(); ++k) keys.Set(static_cast<uint32_t>(k), s.keys[k]);
  raw.Set("keys", keys);
  raw.Set("protoKey", static_cast<double>(s.proto_key));
  raw.Set("cue", s.has_cue);
  raw.Set("sheetMask", s.sheet_mask);
  raw.Set("trackNumbers", typed(env, s.track_numbers));
  raw.Set("trackMasks", typed(env, s.track_masks));
  raw.Set("indexCounts", typed(env, s.index_counts));
  raw.Set("indexNumbers", typed(env, s.index_numbers));
  raw.Set("indexFrames", typed(env, s.index_frames));
  raw.Set("indexMs", typed(env, s.index_ms));
  raw.Set("warningCount", s.warning_count);
  // The document is turned into a JavaScript string only when asked for.
  raw.Set("json", Napi::External<std::string>::New(env, new std::string(std::move(s.json)),
                                                   [](Napi::Env, std::string *text) { delete text; }));
  return raw;
}

Napi::Value error_value(Napi::Env env, int status, const std::string &message) {
  AddonData &d = *env.GetInstanceData<AddonData>();
  return d.error_class.New({Napi::Number::New(env, status), Napi::String::New(env, message)});
}

// The outcome of a request as a JavaScript value: the result, or the
// KavloError to throw or reject with (`failed` set).
Napi::Value settle(Napi::Env env, Snapshot &s, bool &failed) {
  failed = s.status != KAVLO_OK;
  if (failed) return error_value(env, s.status, s.error);
  AddonData &d = *env.GetInstanceData<AddonData>();
  return d.build.Call({raw_result(env, s)});
}

// ---- Arguments -------------------------------------------------------------

// Reads the input of parse()/detect(): a string (taken as UTF-8) or a
// Buffer/Uint8Array/ArrayBuffer. The bytes of a buffer are read where they
// are, also by a request that runs on a worker thread after the call has
// returned: that request holds a reference to the buffer (as fs.write
// does), and the caller leaves it alone until the promise settles.
void read_input(const Napi::Value &v, Request &r) {
  if (v.IsString()) {
    r.owned = v.As<Napi::String>().Utf8Value();
    r.data = r.owned.data();
    r.size = r.owned.size();
    return;
  }
  if (v.IsTypedArray()) {
    auto ta = v.As<Napi::TypedArray>();
    if (ta.TypedArrayType() == napi_uint8_array || ta.TypedArrayType() == napi_int8_array ||
        ta.TypedArrayType() == napi_uint8_clamped_array) {
      auto u8 = v.As<Napi::Uint8Array>();
      r.data = reinterpret_cast<const char *>(u8.Data());
      r.size = u8.ByteLength();
    } else {
      throw Napi::TypeError::New(v.Env(), "input must be a string, Buffer or Uint8Array");
    }
  } else if (v.IsArrayBuffer()) {
    auto ab = v.As<Napi::ArrayBuffer>();
    r.data = static_cast<const char *>(ab.Data());
    r.size = ab.ByteLength();
  } else {
    throw Napi::TypeError::New(v.Env(), "input must be a string, Buffer or Uint8Array");
  }
}

// The encoding argument: undefined or null for none, else a name. The
// place where names with a meaning of their own on this side would be
// resolved before the library sees them.
void read_encoding(const Napi::Value &v, Request &r) {
  if (v.IsUndefined() || v.IsNull()) return;
  if (!v.IsString()) throw Napi::TypeError::New(v.Env(), "encoding must be a string");
  r.encoding = v.As<Napi::String>().Utf8Value();
  if (r.encoding.find('\0') != std::string::npos)
    throw Napi::TypeError::New(v.Env(), "encoding must not contain NUL characters");
  r.has_encoding = true;
}

std::string read_path(const Napi::Value &v) {
  if (!v.IsString()) throw Napi::TypeError::New(v.Env(), "path must be a string");
  std::string path = v.As<Napi::String>().Utf8Value();
  if (path.find('\0') != std::string::npos)
    throw Napi::TypeError::New(v.Env(), "path must not contain NUL characters");
  return path;
}

// parse(input, formatCode, encoding) and parseFile(path, encoding).
Request text_request(const Napi::CallbackInfo &info) {
  Request r;
  read_input(info[0], r);
  r.format = info[1].As<Napi::Number>().Int32Value();
  read_encoding(info[2], r);
  return r;
}

Request file_request(const Napi::CallbackInfo &info) {
  Request r;
  r.kind = Request::file;
  r.path = read_path(info[0]);
  read_encoding(info[1], r);
  return r;
}

Napi::Value run_sync(Napi::Env env, const Request &r) {
  Snapshot s;
  run(r, s);
  bool failed = false;
  Napi::Value v = settle(env, s, failed);
  if (failed) throw Napi::Error(env, v);
  return v;
}

// ---- Asynchronous requests -------------------------------------------------

class ParseWorker : public Napi::AsyncWorker {
 public:
  ParseWorker(Napi::Env env, Request r, Napi::Value input)
      : Napi::AsyncWorker(env, "kavlo.parse"), deferred_(Napi::Promise::Deferred::New(env)), r_(std::move(r)) {
    if (input.IsObject()) input_ = Napi::Persistent(input.As<Napi::Object>());
  }

  Napi::Promise promise() { return deferred_.Promise(); }

  void Execute() override { run(r_, s_); }

  void OnOK() override {
    Napi::Env env = Env();
    Napi::HandleScope scope(env);
    bool failed = false;
    try {
      Napi::Value v = settle(env, s_, failed);
      if (failed) {
        deferred_.Reject(v);
      } else {
        deferred_.Resolve(v);
      }
    } catch (const Napi::Error &e) {
      deferred_.Reject(e.Value());
    }
  }

  void OnError(const Napi::Error &e) override { deferred_.Reject(e.Value()); }

 private:
  Napi::Promise::Deferred deferred_;
  Request r_;
  Snapshot s_;
  Napi::ObjectReference input_;  // the buffer the request reads, kept alive
};

Napi::Value queue(Napi::Env env, Request r, Napi::Value input) {
  auto *w = new ParseWorker(env, std::move(r), input);
  Napi::Promise p = w->promise();
  w->Queue();
  return p;
}

// ---- Exported functions ------------------------------------------------

Napi::Value Parse(const Napi::CallbackInfo &info) { return run_sync(info.Env(), text_request(info)); }

Napi::Value ParseFile(const Napi::CallbackInfo &info) { return run_sync(info.Env(), file_request(info)); }

Napi::Value ParseAsync(const Napi::CallbackInfo &info) { return queue(info.Env(), text_request(info), info[0]); }

Napi::Value ParseFileAsync(const Napi::CallbackInfo &info) { return queue(info.Env(), file_request(info), info.Env().Undefined()); }

Napi::Value Detect(const Napi::CallbackInfo &info) {
  Request r;
  read_input(info[0], r);
  int code;
  {
    std::lock_guard<std::mutex> lock(library_mutex);
    code = kavlo_detect(r.size ? r.data : "", r.size);
  }
  return Napi::String::New(info.Env(), kavlo_format_name(code));
}

// setup({build, KavloError}): the functions of index.js the addon calls.
Napi::Value Setup(const Napi::CallbackInfo &info) {
  Napi::Object o = info[0].As<Napi::Object>();
  auto *d = new AddonData;
  d->build = Napi::Persistent(o.Get("build").As<Napi::Function>());
  d->error_class = Napi::Persistent(o.Get("KavloError").As<Napi::Function>());
  info.Env().SetInstanceData(d);
  return info.Env().Undefined();
}

// jsonText(external): the document a result holds, as a string.
Napi::Value JsonText(const Napi::CallbackInfo &info) {
  const std::string &text = *info[0].As<Napi::External<std::string>>().Data();
  return Napi::String::New(info.Env(), text);
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("setup", Napi::Function::New(env, Setup, "setup"));
  exports.Set("parse", Napi::Function::New(env, Parse, "parse"));
  exports.Set("parseFile", Napi::Function::New(env, ParseFile, "parseFile"));
  exports.Set("parseAsync", Napi::Function::New(env, ParseAsync, "parseAsync"));
  exports.Set("parseFileAsync", Napi::Function::New(env, ParseFileAsync, "parseFileAsync"));
  exports.Set("detect", Napi::Function::New(env, Detect, "detect"));
  exports.Set("jsonText", Napi::Function::New(env, JsonText, "jsonText"));
  return exports;
}

}  // namespace

NODE_API_MODULE(kavlo, Init)
