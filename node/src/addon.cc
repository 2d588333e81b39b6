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
// encoding: "auto": uchardet names the encoding of legacy text.
#define KAVLO_AUTO_UCHARDET
#include <kavlo.hpp>  // kavlo_auto.h, and a file read whole as the library reads it

#include "snapshot.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

namespace {

using kavlo_node::Bytes;
using kavlo_node::Chunk;
using kavlo_node::Snapshot;

std::mutex library_mutex;

// ---- Requests ------------------------------------------------------------

// One call of the library: a text in memory or a file, with its options.
// Runs on any thread; touches no JavaScript value.
struct Request {
  enum Kind { text, file } kind = text;
  const char *data = "";       // the bytes to parse (kind text), never null
  size_t size = 0;
  kavlo_node::Bytes owned;     // holds the bytes of a string input
  std::string path;            // kind file
  int format = KAVLO_FORMAT_AUTO;
  bool has_encoding = false;
  std::string encoding;        // the name handed to the library
  bool auto_encoding = false;  // "auto": kavlo_auto.h picks the name

  const char *encoding_name() const { return has_encoding ? encoding.c_str() : nullptr; }
};

// Runs the request and fills `s`. Never throws: a failed allocation while
// copying the result out ends as KAVLO_ERR_NOMEM.
void run(const Request &r, Snapshot &s) noexcept {
  try {
    // "auto" reads a file here, so that the detector can see its bytes; a
    // file it cannot read goes to the library, which reports why.
    const char *data = r.data;
    size_t size = r.size;
    std::string bytes;
    bool as_text = r.kind == Request::text;
    if (r.auto_encoding && !as_text && kavlo::detail::read_file(r.path, bytes)) {
      data = bytes.data();
      size = bytes.size();
      as_text = true;
    }
    {
      std::lock_guard<std::mutex> lock(library_mutex);
      if (!as_text) {
        s.status = kavlo_parse_file_enc(r.path.c_str(), r.encoding_name());
      } else if (r.auto_encoding) {
        char used[KAVLO_AUTO_NAME_SIZE] = "";
        s.status = kavlo_auto_parse(data, size, r.format, used);
        s.encoding = used;
      } else {
        s.status = kavlo_parse_enc(data, size, r.format, r.encoding_name());
      }
      if (s.status != KAVLO_OK) {
        s.error = kavlo_last_error();
      } else {
        kavlo_node::collect(s);
      }
      // No kavlo_clear(): the library keeps its large blocks for the next
      // parse, which then need not fault in fresh memory.
    }
    if (s.status == KAVLO_OK) kavlo_node::cut(s);
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

// A typed array over the vector's own memory, which moves to JavaScript
// without a copy and is released with the array.
template <typename T>
Napi::Value typed(Napi::Env env, std::vector<T> &v) {
  const size_t n = v.size();
  Napi::ArrayBuffer buf;
  if (n == 0) {
    buf = Napi::ArrayBuffer::New(env, 0);
  } else {
    auto owned = std::make_unique<std::vector<T>>(std::move(v));
    try {
      buf = Napi::ArrayBuffer::New(env, owned->data(), n * sizeof(T),
                                   [](Napi::Env, void *, std::vector<T> *o) { delete o; }, owned.get());
      owned.release();  // the array buffer's finalizer has it now
    } catch (const Napi::Error &) {
      // A runtime without external buffers: a copy.
      env.GetAndClearPendingException();
      buf = Napi::ArrayBuffer::New(env, n * sizeof(T));
      std::memcpy(buf.Data(), owned->data(), n * sizeof(T));
    }
  }
  if constexpr (std::is_same_v<T, uint8_t>) return Napi::Uint8Array::New(env, n, buf, 0);
  if constexpr (std::is_same_v<T, int32_t>) return Napi::Int32Array::New(env, n, buf, 0);
  if constexpr (std::is_same_v<T, uint32_t>) return Napi::Uint32Array::New(env, n, buf, 0);
  if constexpr (std::is_same_v<T, double>) return Napi::Float64Array::New(env, n, buf, 0);
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
  raw.Set("refs", typed(env, s.refs));
  raw.Set("repeatCount", s.repeat_count);
  Napi::Array keys = Napi::Array::New(env, s.keys.size());
  for (size_t k = 0; k < s.keys.size(); ++k) keys.Set(static_cast<uint32_t>(k), s.keys[k]);
  raw.Set("keys", keys);
  raw.Set("protoKey", static_cast<double>(s.proto_key));
  raw.Set("durations", typed(env, s.durations));
  raw.Set("releaseDates", typed(env, s.release_dates));
  raw.Set("lines", typed(env, s.lines));
  raw.Set("itemMasks", typed(env, s.item_masks));
  raw.Set("attrCounts", typed(env, s.attr_counts));
  raw.Set("attrKeys", typed(env, s.attr_keys));
  raw.Set("optionCounts", typed(env, s.option_counts));
  raw.Set("headerCounts", typed(env, s.header_counts));
  raw.Set("headerKeys", typed(env, s.header_keys));
  raw.Set("cue", s.has_cue);
  raw.Set("sheetMask", s.sheet_mask);
  raw.Set("sheetRemCount", s.sheet_rem_count);
  raw.Set("trackNumbers", typed(env, s.track_numbers));
  raw.Set("trackMasks", typed(env, s.track_masks));
  raw.Set("pregaps", typed(env, s.pregaps));
  raw.Set("postgaps", typed(env, s.postgaps));
  raw.Set("trackRemCounts", typed(env, s.track_rem_counts));
  raw.Set("indexCounts", typed(env, s.index_counts));
  raw.Set("indexNumbers", typed(env, s.index_numbers));
  raw.Set("indexFrames", typed(env, s.index_frames));
  raw.Set("indexMs", typed(env, s.index_ms));
  raw.Set("warningCount", s.warning_count);
  raw.Set("encoding", s.encoding.empty() ? env.Null() : Napi::String::New(env, s.encoding));
  raw.Set("m3uHeaderKeys", typed(env, s.m3u_header_keys));
  // The document is turned into a JavaScript string only when asked for.
  raw.Set("json", Napi::External<Bytes>::New(env, new Bytes(std::move(s.json)),
                                             [](Napi::Env, Bytes *text) { delete text; }));
  return raw;
}

Napi::Value error_value(Napi::Env env, int status, const std::string &message) {
  AddonData &d = *env.GetInstanceData<AddonData>();
  return d.error_class.New({Napi::Number::New(env, status), Napi::String::New(env, message)});
}

// The outcome of a request as a JavaScript value: the result (or, for
// index.js to assemble in slices, its tables), or the KavloError to throw
// or reject with (`failed` set).
Napi::Value settle(Napi::Env env, Snapshot &s, bool &failed, bool assemble) {
  failed = s.status != KAVLO_OK;
  if (failed) return error_value(env, s.status, s.error);
  Napi::Value raw = raw_result(env, s);
  if (!assemble) return raw;
  return env.GetInstanceData<AddonData>()->build.Call({raw});
}

// ---- Arguments -------------------------------------------------------------

// Reads the input of parse()/detect(): a string (taken as UTF-8) or a
// Buffer/Uint8Array/ArrayBuffer. The bytes of a buffer are read where they
// are, also by a request that runs on a worker thread after the call has
// returned: that request holds a reference to the buffer (as fs.write
// does), and the caller leaves it alone until the promise settles.
void read_input(const Napi::Value &v, Request &r) {
  if (v.IsString()) {
    // One pass: room for the longest UTF-8 form (3 bytes per UTF-16 unit)
    // instead of measuring the string first.
    napi_env env = v.Env();
    size_t units = 0;
    if (napi_get_value_string_utf16(env, v, nullptr, 0, &units) != napi_ok) throw Napi::Error::New(env);
    r.owned.reserve(3 * units + 1);
    size_t written = 0;
    if (napi_get_value_string_utf8(env, v, r.owned.data(), 3 * units + 1, &written) != napi_ok)
      throw Napi::Error::New(env);
    r.data = r.owned.data();
    r.size = written;
    return;
  }
  const void *data = nullptr;
  size_t size = 0;
  if (v.IsTypedArray()) {
    const napi_typedarray_type type = v.As<Napi::TypedArray>().TypedArrayType();
    if (type != napi_uint8_array && type != napi_int8_array && type != napi_uint8_clamped_array)
      throw Napi::TypeError::New(v.Env(), "input must be a string, Buffer or Uint8Array");
    auto u8 = v.As<Napi::Uint8Array>();
    data = u8.Data();
    size = u8.ByteLength();
  } else if (v.IsArrayBuffer()) {
    auto ab = v.As<Napi::ArrayBuffer>();
    data = ab.Data();
    size = ab.ByteLength();
  } else {
    throw Napi::TypeError::New(v.Env(), "input must be a string, Buffer or Uint8Array");
  }
  // An empty buffer may have no memory at all; the library wants a pointer.
  if (size != 0) {
    r.data = static_cast<const char *>(data);
    r.size = size;
  }
}

// A string argument the library takes as a C string: `what` names it in
// the error.
std::string c_string(const Napi::Value &v, const char *what) {
  if (!v.IsString()) throw Napi::TypeError::New(v.Env(), std::string(what) + " must be a string");
  std::string s = v.As<Napi::String>().Utf8Value();
  if (s.find('\0') != std::string::npos)
    throw Napi::TypeError::New(v.Env(), std::string(what) + " must not contain NUL characters");
  return s;
}

// The encoding argument: undefined or null for none, else a name. "auto"
// (any letter case) has a meaning of its own on this side: kavlo_auto.h.
void read_encoding(const Napi::Value &v, Request &r) {
  if (v.IsUndefined() || v.IsNull()) return;
  r.encoding = c_string(v, "encoding");
  std::string lower = r.encoding;
  for (char &c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  r.auto_encoding = lower == "auto";
  r.has_encoding = !r.auto_encoding;
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
  r.path = c_string(info[0], "path");
  read_encoding(info[1], r);
  return r;
}

Napi::Value run_sync(Napi::Env env, const Request &r) {
  Snapshot s;
  run(r, s);
  bool failed = false;
  Napi::Value v = settle(env, s, failed, true);
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
      Napi::Value v = settle(env, s_, failed, false);
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
    code = kavlo_detect(r.data, r.size);
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

// release(): empties the library's result store, giving back the memory
// it keeps for the next parse.
Napi::Value Release(const Napi::CallbackInfo &info) {
  std::lock_guard<std::mutex> lock(library_mutex);
  kavlo_clear();
  return info.Env().Undefined();
}

// jsonText(external): the document a result holds, as a string.
Napi::Value JsonText(const Napi::CallbackInfo &info) {
  const Bytes &text = *info[0].As<Napi::External<Bytes>>().Data();
  return Napi::String::New(info.Env(), text.data(), text.size());
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("setup", Napi::Function::New(env, Setup, "setup"));
  exports.Set("parse", Napi::Function::New(env, Parse, "parse"));
  exports.Set("parseFile", Napi::Function::New(env, ParseFile, "parseFile"));
  exports.Set("parseAsync", Napi::Function::New(env, ParseAsync, "parseAsync"));
  exports.Set("parseFileAsync", Napi::Function::New(env, ParseFileAsync, "parseFileAsync"));
  exports.Set("detect", Napi::Function::New(env, Detect, "detect"));
  exports.Set("jsonText", Napi::Function::New(env, JsonText, "jsonText"));
  exports.Set("release", Napi::Function::New(env, Release, "release"));
  exports.Set("version", Napi::String::New(env, kavlo_version()));
  return exports;
}

}  // namespace

NODE_API_MODULE(kavlo, Init)
