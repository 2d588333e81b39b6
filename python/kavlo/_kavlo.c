/*
 * _kavlo: the native half of the Python module. Every parse gets a playlist
 * handle of its own, parsed with the GIL released, and owned by a Playlist
 * object that the Python Result keeps: results never share state, so
 * threads parse in parallel and no result changes after it was made. The
 * records (Item, Track, ...) are built from the handle's accessors when
 * they are read. kavlo.write() fills a handle of its own through the
 * builder calls, one call per entry.
 *
 * A handle is only read with the GIL held once it is published, which is
 * the one-thread-at-a-time rule of kavlo.h.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <errno.h>
#include <iconv.h>
#include <stdint.h>
#include <string.h>

#include "kavlo.h"

/* Text parses and detections of inputs from this size on release the GIL;
 * below it the hand-over costs more than it frees. */
#define GIL_FREE_BYTES (64 * 1024)

/* Record classes made in Python (tuple subclasses), filled here. */
static PyTypeObject *item_type, *track_type, *index_type, *option_type, *attr_type, *catchup_type;
static PyObject *empty_str, *empty_tuple;

static PyObject *new_ref(PyObject *o) {
  Py_INCREF(o);
  return o;
}

/* Undecodable bytes (kept by the library's last decoding fallback) survive
 * as lone surrogates, as os.fsdecode keeps them. */
static PyObject *str_of(const char *s) {
  return s[0] ? PyUnicode_DecodeUTF8(s, (Py_ssize_t)strlen(s), "surrogateescape") : new_ref(empty_str);
}

/* ---- Playlist: one handle ------------------------------------------------- */

/* The store shares some strings between records (attribute keys repeated
 * entry after entry, a CUE FILE and its tracks' titles in the items): a
 * small cache by address gives them one Python object. */
#define CACHE_BITS 9
#define CACHE_RECORDS 256
typedef struct {
  const char *key;
  PyObject *str;
} cache_slot;

typedef struct {
  PyObject_HEAD
  kavlo_playlist *p;
  cache_slot *cache; /* made on the first record of a large result */
  int cue;           /* a CUE sheet: its items share the tracks' strings */
  int large;         /* CACHE_RECORDS items or more */
  int header_catchup; /* the #EXTM3U line gives a catch-up setting */
  int header_http;    /* the #EXTM3U line gives a request header */
  int built;          /* made by new(): the builder calls fill it */
} Playlist;

static PyTypeObject playlist_type;

static void playlist_dealloc(Playlist *pl) {
  if (pl->cache)
    for (size_t i = 0; i < (1u << CACHE_BITS); ++i) Py_XDECREF(pl->cache[i].str);
  PyMem_Free(pl->cache);
  /* Giving back the blocks of a large result takes a while; no other
   * thread can reach this handle any more. */
  PyThreadState *ts = pl->large ? PyEval_SaveThread() : NULL;
  kavlo_playlist_free(pl->p);
  if (ts) PyEval_RestoreThread(ts);
  Py_TYPE(pl)->tp_free((PyObject *)pl);
}

/* A string of the store: NULL gives None; `shared` strings go through the
 * cache. */
static PyObject *text(Playlist *pl, const char *s, int shared) {
  if (s == NULL) return new_ref(Py_None);
  if (!shared || pl->cache == NULL) return str_of(s);
  cache_slot *c = &pl->cache[((uint64_t)(uintptr_t)s * 0x9E3779B97F4A7C15ull) >> (64 - CACHE_BITS)];
  if (c->key != s) {
    PyObject *o = str_of(s);
    if (o == NULL) return NULL;
    Py_XSETREF(c->str, o);
    c->key = s;
  }
  return new_ref(c->str);
}

#define PUT(rec, k, expr)                \
  do {                                   \
    PyObject *v_ = (expr);               \
    if (v_ == NULL) goto fail;           \
    PyTuple_SET_ITEM((rec), (k), v_);    \
  } while (0)

/* Accessors of the shape (handle, owner, k) -> string; those of the whole
 * result have no owner and are adapted to it. */
typedef const char *(*field_fn)(const kavlo_playlist *, int, int);

#define OWNERLESS(name)                                             \
  static const char *name(const kavlo_playlist *p, int owner, int k) { \
    (void)owner;                                                    \
    return kavlo_playlist_##name(p, k);                             \
  }
OWNERLESS(header_attr_key)
OWNERLESS(header_attr_value)
OWNERLESS(cue_rem_key)
OWNERLESS(cue_rem_value)
OWNERLESS(epg)
OWNERLESS(warning)

static const field_fn attr_fields[] = {kavlo_playlist_item_attr_key, kavlo_playlist_item_attr_value};
static const field_fn option_fields[] = {kavlo_playlist_item_option_tag, kavlo_playlist_item_option_key,
                                         kavlo_playlist_item_option_value};
static const field_fn url_header_fields[] = {kavlo_playlist_item_header_key, kavlo_playlist_item_header_value};
static const field_fn http_fields[] = {kavlo_playlist_item_http_key, kavlo_playlist_item_http_value};
static const field_fn group_fields[] = {kavlo_playlist_item_group_at};
static const field_fn alternate_fields[] = {kavlo_playlist_item_alternate};
static const field_fn header_fields[] = {header_attr_key, header_attr_value};
static const field_fn track_rem_fields[] = {kavlo_playlist_cue_track_rem_key, kavlo_playlist_cue_track_rem_value};
static const field_fn sheet_rem_fields[] = {cue_rem_key, cue_rem_value};
static const field_fn epg_fields[] = {epg};
static const field_fn warning_fields[] = {warning};

/* `n` entries of `nf` strings each, read at (owner, k): with `type` a tuple
 * of such records, without it one flat tuple (k1, v1, k2, v2, ...). The
 * first field of each (a key or a tag) goes through the cache. */
static PyObject *entries(Playlist *pl, int owner, int n, int nf, const field_fn *fns, PyTypeObject *type) {
  if (n <= 0) return new_ref(empty_tuple);
  PyObject *out = PyTuple_New(type ? n : (Py_ssize_t)n * nf);
  if (out == NULL) return NULL;
  for (int k = 0; k < n; ++k) {
    PyObject *rec = out;
    Py_ssize_t at = (Py_ssize_t)k * nf;
    if (type) {
      PUT(out, k, type->tp_alloc(type, nf));
      rec = PyTuple_GET_ITEM(out, k);
      at = 0;
    }
    for (int f = 0; f < nf; ++f) {
      const char *s = fns[f](pl->p, owner, k);
      PUT(rec, at + f, text(pl, s ? s : "", f == 0));
    }
  }
  return out;
fail:
  Py_DECREF(out);
  return NULL;
}

static int record_index(Playlist *pl, PyObject *arg, int count) {
  long i = PyLong_AsLong(arg);
  if (i == -1 && PyErr_Occurred()) return -1;
  if (i < 0 || i >= count) {
    PyErr_SetString(PyExc_IndexError, "record index out of range");
    return -1;
  }
  /* The cache pays for itself on large results only; small ones, which
   * a program may keep by the thousand, go without. */
  if (pl->large && pl->cache == NULL &&
      (pl->cache = PyMem_Calloc(1u << CACHE_BITS, sizeof(cache_slot))) == NULL) {
    PyErr_NoMemory();
    return -1;
  }
  return (int)i;
}

static const char *const catchup_keys[] = {"mode", "source", "days", "shift"};

/* The attributes that give an item's request headers and catch-up
 * settings (kavlo.h), of its #EXTINF line or else of the #EXTM3U line. The
 * accessors of those combine every source on each call; an item none of
 * whose sources is there has none, which spares the calls. */
static const char *const http_attrs[] = {"http-user-agent", "user-agent", "http-referrer", "referrer", "http-origin"};
static const char *const catchup_attrs[] = {"catchup", "catchup-source", "catchup-days", "tvg-shift"};
#define COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

static int ascii_ieq(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return 0;
    if (x == 0) return 1;
  }
}

static int one_of(const char *key, const char *const *names, int n) {
  for (int k = 0; k < n; ++k)
    if (ascii_ieq(key, names[k])) return 1;
  return 0;
}

/* Which of those the #EXTINF attributes of item `i` hold: bit 1 a request
 * header, bit 2 a catch-up setting. */
static int attr_sources(const kavlo_playlist *p, int i, int attr_count) {
  int found = 0;
  for (int a = 0; a < attr_count && found != 3; ++a) {
    const char *key = kavlo_playlist_item_attr_key(p, i, a);
    if (key == NULL) continue;
    if (one_of(key, http_attrs, COUNT(http_attrs))) found |= 1;
    else if (one_of(key, catchup_attrs, COUNT(catchup_attrs))) found |= 2;
  }
  return found;
}

/* Catchup(mode, source, days, shift) of item `i`, None when it has none. */
static PyObject *catchup_of(Playlist *pl, int i, int sourced) {
  const char *v[4] = {NULL, NULL, NULL, NULL};
  int any = 0;
  if (sourced)
    for (int k = 0; k < 4; ++k) any |= (v[k] = kavlo_playlist_item_catchup(pl->p, i, catchup_keys[k])) != NULL;
  if (!any) return new_ref(Py_None);
  PyObject *rec = catchup_type->tp_alloc(catchup_type, 4);
  if (rec == NULL) return NULL;
  for (int k = 0; k < 4; ++k) PUT(rec, k, text(pl, v[k], 0));
  return rec;
fail:
  Py_DECREF(rec);
  return NULL;
}

/* item(i): Item(location, title, duration_ms, release_date, attrs (flat),
 * line, options, url, headers (flat), group, http (flat), groups,
 * catchup, alternates, label). */
static PyObject *playlist_item(Playlist *pl, PyObject *arg) {
  const kavlo_playlist *p = pl->p;
  int i = record_index(pl, arg, kavlo_playlist_item_count(p));
  if (i < 0) return NULL;
  PyObject *rec = item_type->tp_alloc(item_type, 15);
  if (rec == NULL) return NULL;
  int attr_count = kavlo_playlist_item_attr_count(p, i);
  int sources = attr_sources(p, i, attr_count);
  int header_count = kavlo_playlist_item_header_count(p, i);
  /* Request headers come from the location, tag lines (options) and
   * attributes. */
  int http = header_count > 0 || kavlo_playlist_item_option_count(p, i) > 0 || (sources & 1) || pl->header_http;
  PUT(rec, 0, text(pl, kavlo_playlist_item_location(p, i), pl->cue));
  PUT(rec, 1, text(pl, kavlo_playlist_item_title(p, i), pl->cue));
  PUT(rec, 2, PyLong_FromLong(kavlo_playlist_item_duration_ms(p, i)));
  PUT(rec, 3, PyLong_FromLong(kavlo_playlist_item_release_date(p, i)));
  PUT(rec, 4, entries(pl, i, attr_count, 2, attr_fields, NULL));
  PUT(rec, 5, PyLong_FromLongLong(kavlo_playlist_item_line(p, i)));
  PUT(rec, 6, entries(pl, i, kavlo_playlist_item_option_count(p, i), 3, option_fields, option_type));
  PUT(rec, 7, text(pl, kavlo_playlist_item_url(p, i), 0));
  PUT(rec, 8, entries(pl, i, header_count, 2, url_header_fields, NULL));
  PUT(rec, 9, text(pl, kavlo_playlist_item_group(p, i), 1));
  PUT(rec, 10, entries(pl, i, http ? kavlo_playlist_item_http_count(p, i) : 0, 2, http_fields, NULL));
  PUT(rec, 11, entries(pl, i, kavlo_playlist_item_group_count(p, i), 1, group_fields, NULL));
  PUT(rec, 12, catchup_of(pl, i, (sources & 2) || pl->header_catchup));
  PUT(rec, 13, entries(pl, i, kavlo_playlist_item_alternate_count(p, i), 1, alternate_fields, NULL));
  PUT(rec, 14, text(pl, kavlo_playlist_item_label(p, i), 0));
  return rec;
fail:
  Py_DECREF(rec);
  return NULL;
}

static PyObject *frames_or_none(int64_t v) { return v < 0 ? new_ref(Py_None) : PyLong_FromLongLong(v); }

/* track(t): Track(number, datatype, title, performer, songwriter, isrc,
 * file, flags, indices, pregap, postgap, rem). */
static PyObject *playlist_track(Playlist *pl, PyObject *arg) {
  static const char *const keys[] = {"DATATYPE", "TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS"};
  const kavlo_playlist *p = pl->p;
  int t = record_index(pl, arg, kavlo_playlist_cue_track_count(p));
  if (t < 0) return NULL;
  PyObject *rec = track_type->tp_alloc(track_type, 12);
  if (rec == NULL) return NULL;
  PUT(rec, 0, PyLong_FromLong(kavlo_playlist_cue_track_number(p, t)));
  for (int f = 0; f < 7; ++f) PUT(rec, 1 + f, text(pl, kavlo_playlist_cue_track_field(p, t, keys[f]), 1));
  int n = kavlo_playlist_cue_track_index_count(p, t);
  PUT(rec, 8, n > 0 ? PyTuple_New(n) : new_ref(empty_tuple));
  for (int x = 0; x < n; ++x) {
    PyObject *idx;
    PUT(PyTuple_GET_ITEM(rec, 8), x, idx = index_type->tp_alloc(index_type, 3));
    PUT(idx, 0, PyLong_FromLong(kavlo_playlist_cue_track_index_number(p, t, x)));
    PUT(idx, 1, PyLong_FromLongLong(kavlo_playlist_cue_track_index_frames(p, t, x)));
    PUT(idx, 2, PyLong_FromLong(kavlo_playlist_cue_track_index_ms(p, t, x)));
  }
  PUT(rec, 9, frames_or_none(kavlo_playlist_cue_track_pregap(p, t)));
  PUT(rec, 10, frames_or_none(kavlo_playlist_cue_track_postgap(p, t)));
  PUT(rec, 11, entries(pl, t, kavlo_playlist_cue_track_rem_count(p, t), 2, track_rem_fields, attr_type));
  return rec;
fail:
  Py_DECREF(rec);
  return NULL;
}

/* The diagnostics: a tuple of (line, message, subject). */
static PyObject *diagnostics(Playlist *pl) {
  const kavlo_playlist *p = pl->p;
  int n = kavlo_playlist_diagnostic_count(p);
  if (n <= 0) return new_ref(empty_tuple);
  PyObject *out = PyTuple_New(n);
  if (out == NULL) return NULL;
  for (int k = 0; k < n; ++k) {
    const char *subject = kavlo_playlist_diagnostic_subject(p, k);
    PUT(out, k, Py_BuildValue("(LNN)", (long long)kavlo_playlist_diagnostic_line(p, k),
                              text(pl, kavlo_playlist_diagnostic_message(p, k), 0),
                              text(pl, subject ? subject : "", 0)));
  }
  return out;
fail:
  Py_DECREF(out);
  return NULL;
}

/* info() -> (format, imdb, item count, track count, warnings, encoding,
 * header (flat), sheet fields (5), sheet REM lines, title, EPG addresses,
 * diagnostics). Py_BuildValue takes over the objects, NULL ones too. */
static PyObject *playlist_info(Playlist *pl, PyObject *noargs) {
  (void)noargs;
  const kavlo_playlist *p = pl->p;
  return Py_BuildValue(
      "(iNiiNNN(NNNNN)NNNN)", kavlo_playlist_detected_format(p),
      PyBool_FromLong(kavlo_playlist_m3u_is_imdb_date_playlist(p)), kavlo_playlist_item_count(p),
      kavlo_playlist_cue_track_count(p), entries(pl, 0, kavlo_playlist_warning_count(p), 1, warning_fields, NULL),
      text(pl, kavlo_playlist_encoding(p), 0),
      entries(pl, 0, kavlo_playlist_header_attr_count(p), 2, header_fields, NULL),
      text(pl, kavlo_playlist_cue_meta(p, "TITLE"), 0), text(pl, kavlo_playlist_cue_meta(p, "PERFORMER"), 0),
      text(pl, kavlo_playlist_cue_meta(p, "SONGWRITER"), 0), text(pl, kavlo_playlist_cue_meta(p, "CATALOG"), 0),
      text(pl, kavlo_playlist_cue_meta(p, "CDTEXTFILE"), 0),
      entries(pl, 0, kavlo_playlist_cue_rem_count(p), 2, sheet_rem_fields, attr_type),
      text(pl, kavlo_playlist_title(p), 0), entries(pl, 0, kavlo_playlist_epg_count(p), 1, epg_fields, NULL),
      diagnostics(pl));
}

/* json(full) -> the library's document of this handle. */
static PyObject *playlist_json(Playlist *pl, PyObject *arg) {
  int full = PyObject_IsTrue(arg);
  if (full < 0) return NULL;
  const char *t = full ? kavlo_playlist_json_full(pl->p) : kavlo_playlist_json(pl->p);
  return PyUnicode_DecodeUTF8(t, (Py_ssize_t)strlen(t), "strict");
}

/* write(format, flags) -> the library's text of this handle, or the status
 * of a failed write as an int. Bytes that are not UTF-8 (which the parse
 * let through) come back as lone surrogates, as the records hold them.
 * The write keeps the GIL: the text is held by the handle until its next
 * write, so two threads writing one result must not overlap. */
static PyObject *playlist_write(Playlist *pl, PyObject *args) {
  int format;
  unsigned flags;
  if (!PyArg_ParseTuple(args, "iI", &format, &flags)) return NULL;
  const char *t;
  size_t len;
  int rc = kavlo_playlist_write(pl->p, format, flags, &t, &len);
  if (rc == KAVLO_ERR_NOMEM) return PyErr_NoMemory();
  return rc == KAVLO_OK ? PyUnicode_DecodeUTF8(t, (Py_ssize_t)len, "surrogateescape") : PyLong_FromLong(rc);
}

/* A field's UTF-8 for the builder (lone surrogates back to the bytes they
 * stand for; None is "" where `none_ok`), or NULL, no error set, for one
 * the Python side tells about: not a str, or holding CR, LF or NUL.
 * `*hold` keeps a bytes object made for it; the caller releases it. */
static const char *field_text(PyObject *o, int none_ok, PyObject **hold) {
  *hold = NULL;
  if (o == Py_None || !PyUnicode_Check(o)) return o == Py_None && none_ok ? "" : NULL;
  Py_ssize_t n;
  const char *s = PyUnicode_AsUTF8AndSize(o, &n);
  if (s == NULL) {
    PyErr_Clear();
    if ((*hold = PyUnicode_AsEncodedString(o, "utf-8", "surrogateescape")) == NULL) {
      PyErr_Clear();
      return NULL;
    }
    s = PyBytes_AS_STRING(*hold);
    n = PyBytes_GET_SIZE(*hold);
  }
  if (memchr(s, '\n', (size_t)n) || memchr(s, '\r', (size_t)n) || memchr(s, '\0', (size_t)n)) {
    Py_CLEAR(*hold);
    return NULL;
  }
  return s;
}

/* The texts of `n` (at most 3) fields, bit k of `none_ok` allowing None
 * for field k: 0, or -1 (nothing held) when field_text refused one. */
static int field_texts(int n, PyObject *const *o, unsigned none_ok, const char **f, PyObject **hold) {
  for (int k = 0; k < n; ++k)
    if ((f[k] = field_text(o[k], (none_ok >> k) & 1, &hold[k])) == NULL) {
      while (k-- > 0) Py_XDECREF(hold[k]);
      return -1;
    }
  return 0;
}

static void release(int n, PyObject **hold) {
  for (int k = 0; k < n; ++k) Py_XDECREF(hold[k]);
}

/* add(header, location, title, ms, attrs, options) -> 0, or (status,
 * field): the builder's calls for one entry, its attributes (a flat (key,
 * value, ...) tuple) and its options ((tag, key, value) records); with
 * `header`, only attrs, which are the #EXTM3U line's. For a Playlist made
 * by new() only (a parsed one never changes). A failure gives the
 * library's status, or -1 for a field the Python side tells about, and
 * the field: 0 the entry, 1 + k its attribute k, 1 + (attribute count) +
 * k its option k. */
static PyObject *playlist_add(Playlist *pl, PyObject *args) {
  PyObject *entry[2], *attrs, *options, *hold[3];
  const char *f[3];
  long long ms;
  if (!pl->built) {
    PyErr_SetString(PyExc_TypeError, "only a Playlist made by new() takes entries");
    return NULL;
  }
  int header, rc = KAVLO_OK, at = 0;
  if (!PyArg_ParseTuple(args, "pOOLO!O!", &header, &entry[0], &entry[1], &ms, &PyTuple_Type, &attrs, &PyTuple_Type,
                        &options))
    return NULL;
  if (!header) {
    if (field_texts(2, entry, 2, f, hold) < 0) return Py_BuildValue("(ii)", -1, at);
    rc = kavlo_playlist_add_item(pl->p, f[0], f[1], (int64_t)ms);
    release(2, hold);
  }
  const Py_ssize_t n = PyTuple_GET_SIZE(attrs) / 2, count = n + PyTuple_GET_SIZE(options);
  for (Py_ssize_t k = 0; k < count && rc == KAVLO_OK; ++k) {
    at = (int)(1 + k);
    if (k < n) {
      if (field_texts(2, PySequence_Fast_ITEMS(attrs) + 2 * k, 0, f, hold) < 0) return Py_BuildValue("(ii)", -1, at);
      rc = (header ? kavlo_playlist_add_header_attr : kavlo_playlist_add_attr)(pl->p, f[0], f[1]);
      release(2, hold);
    } else {
      PyObject *o = PyTuple_GET_ITEM(options, k - n);
      if (!(PyTuple_Check(o) || PyList_Check(o)) || PySequence_Fast_GET_SIZE(o) != 3 ||
          field_texts(3, PySequence_Fast_ITEMS(o), 6, f, hold) < 0)
        return Py_BuildValue("(ii)", -1, at);
      rc = kavlo_playlist_add_option(pl->p, f[0], f[1], f[2]);
      release(3, hold);
    }
  }
  return rc == KAVLO_OK ? PyLong_FromLong(0) : Py_BuildValue("(ii)", rc, at);
}

static PyMethodDef playlist_methods[] = {
    {"write", (PyCFunction)playlist_write, METH_VARARGS, "write(format, flags) -> text or status"},
    {"add", (PyCFunction)playlist_add, METH_VARARGS,
     "add(header, location, title, ms, attrs, options) -> 0 or (status, field)"},
    {"item", (PyCFunction)playlist_item, METH_O, "item(i) -> Item"},
    {"track", (PyCFunction)playlist_track, METH_O, "track(t) -> Track"},
    {"info", (PyCFunction)playlist_info, METH_NOARGS, "the result-level fields"},
    {"json", (PyCFunction)playlist_json, METH_O, "json(full) -> the library's document"},
    {NULL, NULL, 0, NULL}};

static PyTypeObject playlist_type = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "kavlo._kavlo.Playlist",
    .tp_basicsize = sizeof(Playlist),
    .tp_dealloc = (destructor)playlist_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = "A playlist, parsed or built: one library handle, freed with the object.",
    .tp_methods = playlist_methods,
};

/* ---- parsing ------------------------------------------------------------ */

/* After a parse into `p`: a Playlist, or (status, message) after a
 * failure, which frees the handle. */
static PyObject *finish(kavlo_playlist *p, int rc) {
  if (rc != KAVLO_OK) {
    PyObject *msg = str_of(kavlo_playlist_last_error(p));
    kavlo_playlist_free(p);
    return msg ? Py_BuildValue("(iN)", rc, msg) : NULL;
  }
  Playlist *pl = PyObject_New(Playlist, &playlist_type);
  if (pl == NULL) {
    kavlo_playlist_free(p);
    return NULL;
  }
  pl->p = p;
  pl->cache = NULL;
  pl->cue = kavlo_playlist_detected_format(p) == KAVLO_FORMAT_CUE;
  pl->large = kavlo_playlist_item_count(p) >= CACHE_RECORDS;
  pl->header_catchup = pl->header_http = pl->built = 0;
  for (int k = 0; k < COUNT(catchup_attrs); ++k)
    pl->header_catchup |= kavlo_playlist_header_attr(p, catchup_attrs[k]) != NULL;
  for (int k = 0; k < COUNT(http_attrs); ++k) pl->header_http |= kavlo_playlist_header_attr(p, http_attrs[k]) != NULL;
  return (PyObject *)pl;
}

/* Parses `b` into `p`, or with `p` NULL detects its format: a status or a
 * format code, -1 with MemoryError set. Inputs from GIL_FREE_BYTES on are
 * read with the GIL released, from a copy when other threads may change
 * them (a writable buffer, a bytearray). */
static int read_bytes(kavlo_playlist *p, Py_buffer *b, int format, const char *enc) {
  const char *bytes = b->buf;
  char *copy = NULL;
  int release = b->len >= GIL_FREE_BYTES;
  if (release && !b->readonly) {
    if ((copy = PyMem_RawMalloc((size_t)b->len)) == NULL) {
      PyErr_NoMemory();
      return -1;
    }
    bytes = memcpy(copy, b->buf, (size_t)b->len);
  }
  PyThreadState *ts = release ? PyEval_SaveThread() : NULL;
  int rc = p ? kavlo_playlist_parse(p, bytes, (size_t)b->len, format, enc)
             : kavlo_detect_text(bytes, (size_t)b->len, enc);
  if (ts) PyEval_RestoreThread(ts);
  PyMem_RawFree(copy);
  return rc;
}

/* parse(data, format, encoding) -> Playlist or (status, message). */
static PyObject *py_parse(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  int format;
  const char *enc;
  if (!PyArg_ParseTuple(args, "y*is", &buf, &format, &enc)) return NULL;
  kavlo_playlist *p = kavlo_playlist_new();
  int rc = p ? read_bytes(p, &buf, format, enc) : -1;
  if (p == NULL) PyErr_NoMemory();
  PyBuffer_Release(&buf);
  if (rc >= 0) return finish(p, rc);
  kavlo_playlist_free(p);
  return NULL;
}

/* parse_file(path, format, encoding) -> Playlist or (status, message). */
static PyObject *py_parse_file(PyObject *self, PyObject *args) {
  (void)self;
  const char *path, *enc;
  int format, rc;
  if (!PyArg_ParseTuple(args, "yis", &path, &format, &enc)) return NULL;
  kavlo_playlist *p = kavlo_playlist_new();
  if (p == NULL) return PyErr_NoMemory();
  Py_BEGIN_ALLOW_THREADS
  rc = kavlo_playlist_parse_file_as(p, path, format, enc);
  Py_END_ALLOW_THREADS
  return finish(p, rc);
}

/* detect(data, encoding) -> format code. */
static PyObject *py_detect(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  const char *enc;
  if (!PyArg_ParseTuple(args, "y*s", &buf, &enc)) return NULL;
  int code = read_bytes(NULL, &buf, 0, enc);
  PyBuffer_Release(&buf);
  return code < 0 ? NULL : PyLong_FromLong(code);
}

/* ---- writing items a program made -------------------------------------- */

/* new() -> an empty Playlist, for the builder calls. */
static PyObject *py_new(PyObject *self, PyObject *noargs) {
  (void)self;
  (void)noargs;
  kavlo_playlist *p = kavlo_playlist_new();
  PyObject *pl = p ? finish(p, KAVLO_OK) : PyErr_NoMemory();
  if (pl) ((Playlist *)pl)->built = 1;
  return pl;
}

/* encoding_known(name): whether iconv converts from `name` (the library
 * hands every name it does not alias to iconv, and iconv knows the
 * aliases). */
static PyObject *py_encoding_known(PyObject *self, PyObject *args) {
  (void)self;
  const char *name;
  if (!PyArg_ParseTuple(args, "s", &name)) return NULL;
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == (iconv_t)-1) return PyBool_FromLong(errno != EINVAL);
  iconv_close(cd);
  Py_RETURN_TRUE;
}

static PyObject *py_format_name(PyObject *self, PyObject *arg) {
  (void)self;
  int overflow;
  long code = PyLong_AsLongAndOverflow(arg, &overflow);
  if (code == -1 && PyErr_Occurred()) return NULL;
  if (overflow || code < INT_MIN || code > INT_MAX) code = KAVLO_FORMAT_UNKNOWN;
  return PyUnicode_FromString(kavlo_format_name((int)code));
}

/* attrs_dict(flat) -> {key: value}, the first value of a key winning. */
static PyObject *py_attrs_dict(PyObject *self, PyObject *flat) {
  (void)self;
  if (!PyTuple_Check(flat)) {
    PyErr_SetString(PyExc_TypeError, "tuple expected");
    return NULL;
  }
  PyObject *d = PyDict_New();
  if (d == NULL) return NULL;
  for (Py_ssize_t i = 0; i + 1 < PyTuple_GET_SIZE(flat); i += 2)
    if (PyDict_SetDefault(d, PyTuple_GET_ITEM(flat, i), PyTuple_GET_ITEM(flat, i + 1)) == NULL) {
      Py_DECREF(d);
      return NULL;
    }
  return d;
}

/* bind(Item, Track, Index, Option, Attr, Catchup): the record classes. */
static PyObject *py_bind(PyObject *self, PyObject *args) {
  (void)self;
  PyTypeObject **slots[] = {&item_type, &track_type, &index_type, &option_type, &attr_type, &catchup_type};
  int ok = PyTuple_GET_SIZE(args) == COUNT(slots);
  for (int i = 0; ok && i < COUNT(slots); ++i) {
    PyObject *t = PyTuple_GET_ITEM(args, i);
    ok = PyType_Check(t) && PyType_IsSubtype((PyTypeObject *)t, &PyTuple_Type);
  }
  if (!ok) {
    PyErr_SetString(PyExc_TypeError, "bind() takes the 6 record classes, each derived from tuple");
    return NULL;
  }
  for (int i = 0; i < COUNT(slots); ++i) {
    PyObject *t = PyTuple_GET_ITEM(args, i);
    Py_INCREF(t);
    Py_XSETREF(*slots[i], (PyTypeObject *)t);
  }
  Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"parse", py_parse, METH_VARARGS, "parse(data, format, encoding) -> Playlist or (status, message)"},
    {"parse_file", py_parse_file, METH_VARARGS, "parse_file(path, format, encoding) -> Playlist or (status, message)"},
    {"detect", py_detect, METH_VARARGS, "detect(data, encoding) -> format code"},
    {"new", py_new, METH_NOARGS, "new() -> an empty Playlist for the builder"},
    {"encoding_known", py_encoding_known, METH_VARARGS, "whether iconv knows an encoding name"},
    {"format_name", py_format_name, METH_O, "the library's name of a format code"},
    {"attrs_dict", py_attrs_dict, METH_O, "mapping of a flat (key, value, ...) tuple, first value winning"},
    {"bind", py_bind, METH_VARARGS, "registers the record classes"},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_kavlo", "Native half of the kavlo module.", -1,
                                    methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__kavlo(void) {
  PyObject *m = PyModule_Create(&module);
  if (m == NULL) return NULL;
  empty_str = PyUnicode_FromStringAndSize("", 0);
  empty_tuple = PyTuple_New(0);
  if (empty_str == NULL || empty_tuple == NULL || PyType_Ready(&playlist_type) < 0 ||
      PyModule_AddStringConstant(m, "VERSION", kavlo_version()) < 0) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
