/*
 * _kavlo: the native half of the Python module. It calls the library and
 * copies a whole result into Python objects in one pass over the result
 * store: the accessors give the items, attributes, tracks, indices and
 * warnings; the JSON document gives what no accessor holds (item lines,
 * options, headers, groups, track numbers, REM lines), read by a small
 * scanner that converts only those members and skips the rest.
 *
 * The Python side holds its lock around every call of this module, so the
 * library is never entered from two threads at once. Parsing itself runs
 * with the GIL released.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "kavlo.h"
/* encoding="auto": uchardet names the encoding of legacy text. */
#define KAVLO_AUTO_UCHARDET
#include "kavlo_auto.h"

#ifndef KAVLO_PY_VERSION
#  define KAVLO_PY_VERSION "0.0.0"
#endif

/* Limits of the store (see kavlo.h); used to size local arrays. */
#define MAX_ATTRS 64

/* Record types made in Python (tuple subclasses), instantiated here. */
static PyTypeObject *item_type, *track_type, *index_type, *option_type, *attr_type;

/* Field positions; kept in step with the classes in __init__.py. */
enum { I_LOCATION, I_TITLE, I_DURATION, I_RELEASE, I_ATTRS, I_SOURCE, I_INDEX, ITEM_FIELDS };
enum { T_NUMBER, T_DATATYPE, T_TITLE, T_PERFORMER, T_SONGWRITER, T_ISRC, T_FILE, T_FLAGS, T_INDICES,
       T_PREGAP, T_POSTGAP, T_REM, TRACK_FIELDS };

static PyObject *empty_str, *empty_tuple;

static PyObject *record(PyTypeObject *type, Py_ssize_t n) {
  /* As tuple_subtype_new does: the slots start out NULL and are filled by
   * the caller before the object is seen by anyone. */
  return type->tp_alloc(type, n);
}

#define SET(rec, i, v) PyTuple_SET_ITEM((rec), (i), (v))

static void replace(PyObject *rec, Py_ssize_t i, PyObject *v) {
  PyObject *old = PyTuple_GET_ITEM(rec, i);
  PyTuple_SET_ITEM(rec, i, v);
  Py_XDECREF(old);
}

static PyObject *new_ref(PyObject *o) {
  Py_INCREF(o);
  return o;
}

static PyObject *decode(const char *s, size_t n) {
  /* Undecodable bytes (kept by the last decoding fallback) survive as
   * lone surrogates, as os.fsdecode keeps them. */
  return PyUnicode_DecodeUTF8(s, (Py_ssize_t)n, "surrogateescape");
}

/* ---- the JSON scanner ------------------------------------------------------
 * Reads the library's compact document. Any surprise ends the scan with a
 * failure; the caller then keeps what the accessors gave. */
typedef struct {
  const char *p, *e;
  int depth;
} scan;

typedef struct {
  const char *s;
  size_t n;
} span;

static void ws(scan *j) {
  while (j->p < j->e && (*j->p == ' ' || *j->p == '\n' || *j->p == '\r' || *j->p == '\t')) ++j->p;
}

static int lit(scan *j, char c) {
  ws(j);
  if (j->p < j->e && *j->p == c) {
    ++j->p;
    return 1;
  }
  return 0;
}

/* The string at the cursor, without its quotes. */
static int raw_string(scan *j, span *out) {
  ws(j);
  if (j->p >= j->e || *j->p != '"') return 0;
  const char *start = j->p + 1, *p = start;
  for (;;) {
    const char *q = memchr(p, '"', (size_t)(j->e - p));
    if (q == NULL) return 0;
    const char *b = q;
    while (b > start && b[-1] == '\\') --b;
    if (((q - b) & 1) == 0) {
      out->s = start;
      out->n = (size_t)(q - start);
      j->p = q + 1;
      return 1;
    }
    p = q + 1;
  }
}

static int hex4(const char *s, unsigned *v) {
  unsigned r = 0;
  for (int i = 0; i < 4; ++i) {
    char c = s[i];
    r <<= 4;
    if (c >= '0' && c <= '9') r |= (unsigned)(c - '0');
    else if (c >= 'a' && c <= 'f') r |= (unsigned)(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') r |= (unsigned)(c - 'A' + 10);
    else return 0;
  }
  *v = r;
  return 1;
}

static char *put_utf8(char *o, unsigned c) {
  if (c < 0x80) {
    *o++ = (char)c;
  } else if (c < 0x800) {
    *o++ = (char)(0xC0 | (c >> 6));
    *o++ = (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *o++ = (char)(0xE0 | (c >> 12));
    *o++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *o++ = (char)(0x80 | (c & 0x3F));
  } else {
    *o++ = (char)(0xF0 | (c >> 18));
    *o++ = (char)(0x80 | ((c >> 12) & 0x3F));
    *o++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *o++ = (char)(0x80 | (c & 0x3F));
  }
  return o;
}

/* The string's value as a Python str; NULL with no exception set for a
 * malformed escape, NULL with an exception for a Python failure. */
static PyObject *span_str(span s) {
  if (memchr(s.s, '\\', s.n) == NULL) return s.n ? decode(s.s, s.n) : new_ref(empty_str);
  char *buf = PyMem_Malloc(s.n ? s.n : 1); /* unescaping never grows the text */
  if (buf == NULL) return PyErr_NoMemory();
  char *o = buf;
  const char *p = s.s, *e = s.s + s.n;
  while (p < e) {
    if (*p != '\\') {
      *o++ = *p++;
      continue;
    }
    if (e - p < 2) goto bad;
    char c = p[1];
    p += 2;
    switch (c) {
      case '"': *o++ = '"'; break;
      case '\\': *o++ = '\\'; break;
      case '/': *o++ = '/'; break;
      case 'b': *o++ = '\b'; break;
      case 'f': *o++ = '\f'; break;
      case 'n': *o++ = '\n'; break;
      case 'r': *o++ = '\r'; break;
      case 't': *o++ = '\t'; break;
      case 'u': {
        unsigned u, lo;
        if (e - p < 4 || !hex4(p, &u)) goto bad;
        p += 4;
        if (u >= 0xD800 && u < 0xDC00 && e - p >= 6 && p[0] == '\\' && p[1] == 'u' && hex4(p + 2, &lo) &&
            lo >= 0xDC00 && lo < 0xE000) {
          u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
          p += 6;
        } else if (u >= 0xD800 && u < 0xE000) {
          u = 0xFFFD;
        }
        o = put_utf8(o, u);
        break;
      }
      default: goto bad;
    }
  }
  PyObject *r = decode(buf, (size_t)(o - buf));
  PyMem_Free(buf);
  return r;
bad:
  PyMem_Free(buf);
  return NULL;
}

static int span_is(span s, const char *name) { return strlen(name) == s.n && memcmp(s.s, name, s.n) == 0; }

static int skip_value(scan *j);

static int skip_container(scan *j, char close, int object) {
  if (++j->depth > 32) return 0;
  if (!lit(j, close)) {
    do {
      span k;
      if (object && (!raw_string(j, &k) || !lit(j, ':'))) return 0;
      if (!skip_value(j)) return 0;
    } while (lit(j, ','));
    if (!lit(j, close)) return 0;
  }
  --j->depth;
  return 1;
}

static int skip_value(scan *j) {
  ws(j);
  if (j->p >= j->e) return 0;
  span s;
  switch (*j->p) {
    case '"': return raw_string(j, &s);
    case '{': ++j->p; return skip_container(j, '}', 1);
    case '[': ++j->p; return skip_container(j, ']', 0);
    default: {
      const char *start = j->p;
      while (j->p < j->e && *j->p != ',' && *j->p != '}' && *j->p != ']' && *j->p != ' ') ++j->p;
      return j->p > start;
    }
  }
}

static int read_int(scan *j, long long *v) {
  ws(j);
  int neg = j->p < j->e && *j->p == '-';
  if (neg) ++j->p;
  if (j->p >= j->e || *j->p < '0' || *j->p > '9') return 0;
  unsigned long long r = 0;
  while (j->p < j->e && *j->p >= '0' && *j->p <= '9') {
    if (r > (ULLONG_MAX - 9) / 10) return 0;
    r = r * 10 + (unsigned)(*j->p++ - '0');
  }
  if (r > (unsigned long long)LLONG_MAX) return 0;
  *v = neg ? -(long long)r : (long long)r;
  return 1;
}

/* A Python failure inside the scan is kept apart from a malformed
 * document: the first is raised, the second only ends the scan. */
typedef enum { SCAN_OK, SCAN_BAD, SCAN_ERROR } scan_status;

static scan_status str_value(scan *j, PyObject **out) {
  span s;
  if (!raw_string(j, &s)) return SCAN_BAD;
  *out = span_str(s);
  if (*out == NULL) return PyErr_Occurred() ? SCAN_ERROR : SCAN_BAD;
  return SCAN_OK;
}

/* {"k":"v",...} as a flat tuple (k1, v1, k2, v2, ...), in order. */
static scan_status pairs_object(scan *j, PyObject **out) {
  PyObject *list = PyList_New(0);
  if (list == NULL) return SCAN_ERROR;
  scan_status st = SCAN_BAD;
  if (!lit(j, '{')) goto done;
  if (!lit(j, '}')) {
    do {
      PyObject *v[2] = {NULL, NULL};
      for (int i = 0; i < 2; ++i) {
        if ((st = str_value(j, &v[i])) != SCAN_OK || (i == 0 && !lit(j, ':'))) {
          if (st == SCAN_OK) st = SCAN_BAD;
          Py_XDECREF(v[0]);
          Py_XDECREF(v[1]);
          goto done;
        }
      }
      int rc = PyList_Append(list, v[0]) | PyList_Append(list, v[1]);
      Py_DECREF(v[0]);
      Py_DECREF(v[1]);
      if (rc) {
        st = SCAN_ERROR;
        goto done;
      }
    } while (lit(j, ','));
    st = SCAN_BAD;
    if (!lit(j, '}')) goto done;
  }
  *out = PyList_AsTuple(list);
  st = *out ? SCAN_OK : SCAN_ERROR;
done:
  Py_DECREF(list);
  return st;
}

/* [{"a":..,"b":..},...] as a tuple of records of `type` whose fields are the
 * members `names` (strings; a missing one reads ""). */
static scan_status records_array(scan *j, PyTypeObject *type, const char *const *names, int n,
                                 PyObject **out) {
  PyObject *list = PyList_New(0);
  if (list == NULL) return SCAN_ERROR;
  scan_status st = SCAN_BAD;
  if (!lit(j, '[')) goto done;
  if (!lit(j, ']')) {
    do {
      if (!lit(j, '{')) goto fail;
      PyObject *rec = record(type, n);
      if (rec == NULL) {
        st = SCAN_ERROR;
        goto done;
      }
      int rc = PyList_Append(list, rec);
      Py_DECREF(rec);
      if (rc) {
        st = SCAN_ERROR;
        goto done;
      }
      if (!lit(j, '}')) {
        do {
          span k;
          if (!raw_string(j, &k) || !lit(j, ':')) goto fail;
          int f = -1;
          for (int i = 0; i < n; ++i)
            if (span_is(k, names[i])) f = i;
          if (f < 0) {
            if (!skip_value(j)) goto fail;
            continue;
          }
          PyObject *v;
          if ((st = str_value(j, &v)) != SCAN_OK) goto done;
          replace(rec, f, v);
        } while (lit(j, ','));
        if (!lit(j, '}')) goto fail;
      }
      for (int i = 0; i < n; ++i)
        if (PyTuple_GET_ITEM(rec, i) == NULL) SET(rec, i, new_ref(empty_str));
    } while (lit(j, ','));
    if (!lit(j, ']')) goto fail;
  }
  *out = PyList_AsTuple(list);
  st = *out ? SCAN_OK : SCAN_ERROR;
  goto done;
fail:
  st = SCAN_BAD;
done:
  /* Records left half-filled by a failure get their empty fields set so
   * that they can be released. */
  for (Py_ssize_t r = 0; r < PyList_GET_SIZE(list); ++r) {
    PyObject *rec = PyList_GET_ITEM(list, r);
    for (int i = 0; i < n; ++i)
      if (PyTuple_GET_ITEM(rec, i) == NULL) SET(rec, i, new_ref(empty_str));
  }
  Py_DECREF(list);
  return st;
}

static const char *const option_names[] = {"tag", "key", "value"};
static const char *const rem_names[] = {"key", "value"};

/* ---- the snapshot ----------------------------------------------------------
 * A result copied out of the store in a compact form: the strings in one
 * block, fixed-size records pointing into it. The Python records (Item,
 * Track) are built from it when they are asked for, so a result costs
 * little more than its text until its entries are used. */
typedef struct {
  uint32_t off, len; /* len NO_STR: no string */
} strref;
#define NO_STR UINT32_MAX

typedef struct {
  strref location, title;
  int32_t duration_ms, release_date, line;
  uint32_t attr_first, attr_count;
} item_rec;

typedef struct {
  uint32_t key; /* index into the snapshot's key objects */
  strref value;
} attr_rec;

typedef struct {
  strref field[T_FLAGS - T_DATATYPE + 1];
  int32_t number;
  uint32_t index_first, index_count;
  int64_t pregap, postgap; /* NO_GAP: not set */
} track_rec;
#define NO_GAP INT64_MIN

typedef struct {
  int32_t number, ms;
  int64_t frames;
} index_rec;

typedef struct {
  PyObject_HEAD
  char *text;
  size_t text_len, text_cap;
  item_rec *items;
  attr_rec *attrs;
  track_rec *tracks;
  index_rec *indices;
  Py_ssize_t n_items, n_attrs, n_tracks, n_indices;
  PyObject *keys;       /* list of the distinct attribute keys */
  PyObject **item_more; /* per item: NULL, or (attrs, options, url, headers, group) from the document */
  PyObject **track_rem; /* per track: NULL, or its REM records */
  PyObject *header;     /* flat (key, value, ...) of the #EXTM3U line */
  PyObject *sheet_rem;  /* REM records of the sheet */
  unsigned char *dup_attrs; /* items whose attributes need the document's values */
  int complete;         /* the document's members are in */
} snapshot;

/* The library has one result store and no locks: every call into it holds
 * `lib_lock`. `latest` is the snapshot of what the store holds now (NULL
 * after a detection added to its warnings); `pending` is that snapshot
 * while the members only the document holds have not been read from it.
 * They are read when first asked for, and at the latest before the next
 * parse replaces the store. */
static PyThread_type_lock lib_lock;
static snapshot *latest, *pending;

static unsigned long lib_owner; /* thread holding lib_lock, 0 when free */

static void lock_lib(void) {
  if (!PyThread_acquire_lock(lib_lock, NOWAIT_LOCK)) {
    Py_BEGIN_ALLOW_THREADS
    PyThread_acquire_lock(lib_lock, WAIT_LOCK);
    Py_END_ALLOW_THREADS
  }
  lib_owner = PyThread_get_thread_ident();
}

static void unlock_lib(void) {
  lib_owner = 0;
  PyThread_release_lock(lib_lock);
}

static PyTypeObject snapshot_type;

static void snapshot_dealloc(snapshot *s) {
  if (latest == s) latest = NULL;
  if (pending == s) pending = NULL;
  Py_XDECREF(s->header);
  Py_XDECREF(s->sheet_rem);
  PyMem_Free(s->dup_attrs);
  if (s->item_more)
    for (Py_ssize_t i = 0; i < s->n_items; ++i) Py_XDECREF(s->item_more[i]);
  if (s->track_rem)
    for (Py_ssize_t i = 0; i < s->n_tracks; ++i) Py_XDECREF(s->track_rem[i]);
  PyMem_Free(s->item_more);
  PyMem_Free(s->track_rem);
  PyMem_Free(s->text);
  PyMem_Free(s->items);
  PyMem_Free(s->attrs);
  PyMem_Free(s->tracks);
  PyMem_Free(s->indices);
  Py_XDECREF(s->keys);
  Py_TYPE(s)->tp_free((PyObject *)s);
}

/* Copies a string of the store into the snapshot. Strings the store shares
 * (CUE items and their tracks) are copied once, through an address cache
 * that lives for one collection. */
#define REF_BITS 12
static struct {
  const char *p;
  strref r;
} ref_cache[1u << REF_BITS];

static int copy_str(snapshot *s, const char *p, strref *out) {
  if (p == NULL) {
    out->off = 0;
    out->len = NO_STR;
    return 0;
  }
  size_t h = (size_t)(((uint64_t)(uintptr_t)p * 0x9E3779B97F4A7C15ull) >> (64 - REF_BITS));
  if (ref_cache[h].p == p) {
    *out = ref_cache[h].r;
    return 0;
  }
  size_t n = strlen(p);
  if (n >= NO_STR || s->text_len + n > UINT32_MAX) {
    PyErr_SetString(PyExc_MemoryError, "result too large for a snapshot");
    return -1;
  }
  if (s->text_len + n > s->text_cap) {
    size_t cap = s->text_cap ? s->text_cap : 1 << 16;
    while (cap < s->text_len + n) cap *= 2;
    if (cap > (size_t)UINT32_MAX + 1) cap = (size_t)UINT32_MAX + 1;
    char *t = PyMem_Realloc(s->text, cap);
    if (t == NULL) {
      PyErr_NoMemory();
      return -1;
    }
    s->text = t;
    s->text_cap = cap;
  }
  memcpy(s->text + s->text_len, p, n);
  out->off = (uint32_t)s->text_len;
  out->len = (uint32_t)n;
  s->text_len += n;
  ref_cache[h].p = p;
  ref_cache[h].r = *out;
  return 0;
}

static PyObject *ref_str(const snapshot *s, strref r) {
  if (r.len == NO_STR) return new_ref(Py_None);
  if (r.len == 0) return new_ref(empty_str);
  return decode(s->text + r.off, r.len);
}

static PyObject *ref_str_or_empty(const snapshot *s, strref r) {
  return r.len == NO_STR ? new_ref(empty_str) : ref_str(s, r);
}

static void *alloc_array(Py_ssize_t n, size_t size) {
  void *p = PyMem_Calloc((size_t)n + 1, size);
  if (p == NULL) PyErr_NoMemory();
  return p;
}

/* The keys of the store: attribute keys are shared there, so an address
 * cache maps nearly all of them to their object in `keys`. */
#define KEY_BITS 8
static int key_index(snapshot *s, const char *key, uint32_t *out, const char **kp, uint32_t *ki) {
  size_t h = (size_t)(((uint64_t)(uintptr_t)key * 0x9E3779B97F4A7C15ull) >> (64 - KEY_BITS));
  if (kp[h] == key && key != NULL) {
    *out = ki[h];
    return 0;
  }
  PyObject *k = key ? decode(key, strlen(key)) : new_ref(empty_str);
  if (k == NULL) return -1;
  /* Interning makes equal keys written in different places one object. */
  PyUnicode_InternInPlace(&k);
  Py_ssize_t n = PyList_GET_SIZE(s->keys);
  for (Py_ssize_t i = n > 64 ? n - 64 : 0; i < n; ++i)
    if (PyList_GET_ITEM(s->keys, i) == k) {
      Py_DECREF(k);
      *out = ki[h] = (uint32_t)i;
      kp[h] = key;
      return 0;
    }
  if (n >= (Py_ssize_t)UINT32_MAX || PyList_Append(s->keys, k) < 0) {
    Py_DECREF(k);
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return -1;
  }
  Py_DECREF(k);
  *out = ki[h] = (uint32_t)n;
  kp[h] = key;
  return 0;
}

static const char *const track_keys[] = {"DATATYPE", "TITLE", "PERFORMER", "SONGWRITER", "ISRC", "FILE", "FLAGS"};

/* Copies the store into a new snapshot; `dup` receives the items whose
 * repeated attribute keys need the document's values (or NULL). */
static snapshot *snapshot_take(void) {
  snapshot *s = PyObject_New(snapshot, &snapshot_type);
  if (s == NULL) return NULL;
  memset((char *)s + sizeof(PyObject), 0, sizeof *s - sizeof(PyObject));
  unsigned char *dup = NULL;
  const char *kp[1u << KEY_BITS] = {0};
  uint32_t ki[1u << KEY_BITS];
  memset(ref_cache, 0, sizeof ref_cache);
  s->keys = PyList_New(0);
  int n = kavlo_item_count(), nt = kavlo_cue_track_count();
  Py_ssize_t na = 0, nx = 0;
  for (int i = 0; i < n; ++i) na += kavlo_item_attr_count(i);
  for (int t = 0; t < nt; ++t) nx += kavlo_cue_track_index_count(t);
  if (s->keys == NULL || !(s->items = alloc_array(n, sizeof(item_rec))) ||
      !(s->attrs = alloc_array(na, sizeof(attr_rec))) || !(s->tracks = alloc_array(nt, sizeof(track_rec))) ||
      !(s->indices = alloc_array(nx, sizeof(index_rec))))
    goto fail;
  s->n_items = n;
  s->n_tracks = nt;
  for (int i = 0; i < n; ++i) {
    item_rec *r = &s->items[i];
    if (copy_str(s, kavlo_item_location(i), &r->location) || copy_str(s, kavlo_item_title(i), &r->title)) goto fail;
    r->duration_ms = kavlo_item_duration_ms(i);
    r->release_date = kavlo_item_release_date(i);
    int ac = kavlo_item_attr_count(i);
    if (ac > MAX_ATTRS) ac = MAX_ATTRS;
    if (ac > na - s->n_attrs) ac = (int)(na - s->n_attrs);
    r->attr_first = (uint32_t)s->n_attrs;
    r->attr_count = (uint32_t)ac;
    /* The accessor gives the first value of a key; a key written twice
     * shows as two attributes with the same value, and such an item takes
     * its values from the document. */
    const char *seen[MAX_ATTRS];
    for (int a = 0; a < ac; ++a) {
      attr_rec *ar = &s->attrs[s->n_attrs++];
      const char *key = kavlo_item_attr_key(i, a);
      const char *value = key ? kavlo_item_attr(i, key) : NULL;
      if (key_index(s, key, &ar->key, kp, ki) || copy_str(s, value ? value : "", &ar->value)) goto fail;
      seen[a] = value;
      for (int b = 0; b < a && value; ++b)
        if (seen[b] == value) {
          if (dup == NULL && (dup = PyMem_Calloc((size_t)n, 1)) == NULL) {
            PyErr_NoMemory();
            goto fail;
          }
          dup[i] = 1;
        }
    }
  }
  for (int t = 0; t < nt; ++t) {
    track_rec *r = &s->tracks[t];
    for (int f = 0; f <= T_FLAGS - T_DATATYPE; ++f)
      if (copy_str(s, kavlo_cue_track_field(t, track_keys[f]), &r->field[f])) goto fail;
    r->pregap = r->postgap = NO_GAP;
    int c = kavlo_cue_track_index_count(t);
    if (c > nx - s->n_indices) c = (int)(nx - s->n_indices);
    r->index_first = (uint32_t)s->n_indices;
    r->index_count = (uint32_t)c;
    for (int x = 0; x < c; ++x) {
      index_rec *ir = &s->indices[s->n_indices++];
      ir->number = kavlo_cue_track_index_number(t, x);
      ir->frames = kavlo_cue_track_index_frames(t, x);
      ir->ms = kavlo_cue_track_index_ms(t, x);
    }
  }
  s->dup_attrs = dup;
  return s;
fail:
  PyMem_Free(dup);
  Py_DECREF(s);
  return NULL;
}

/* ---- what only the document holds ------------------------------------------ */

typedef struct {
  snapshot *s;
  Py_ssize_t seen_items, seen_tracks;
} extras;

enum { M_ATTRS, M_OPTIONS, M_URL, M_HEADERS, M_GROUP, MORE_FIELDS };

static scan_status more_slot(extras *x, Py_ssize_t i, int f, PyObject ***out) {
  if (x->s->item_more == NULL && !(x->s->item_more = alloc_array(x->s->n_items, sizeof(PyObject *))))
    return SCAN_ERROR;
  PyObject **m = &x->s->item_more[i];
  if (*m == NULL) {
    if (!(*m = PyTuple_New(MORE_FIELDS))) return SCAN_ERROR;
    for (int k = 0; k < MORE_FIELDS; ++k) PyTuple_SET_ITEM(*m, k, new_ref(Py_None));
  }
  *out = &PyTuple_GET_ITEM(*m, f);
  return SCAN_OK;
}

/* An object or an array of the document, one callback per member (the
 * cursor at its value) or per element; each callback reads what it is at. */
typedef scan_status (*member_fn)(scan *j, span key, extras *x);
typedef scan_status (*element_fn)(scan *j, extras *x);

static scan_status scan_object(scan *j, member_fn member, extras *x) {
  if (!lit(j, '{')) return SCAN_BAD;
  if (lit(j, '}')) return SCAN_OK;
  do {
    span k;
    if (!raw_string(j, &k) || !lit(j, ':')) return SCAN_BAD;
    scan_status st = member(j, k, x);
    if (st != SCAN_OK) return st;
  } while (lit(j, ','));
  return lit(j, '}') ? SCAN_OK : SCAN_BAD;
}

static scan_status scan_array(scan *j, element_fn element, extras *x) {
  if (!lit(j, '[')) return SCAN_BAD;
  if (lit(j, ']')) return SCAN_OK;
  do {
    scan_status st = element(j, x);
    if (st != SCAN_OK) return st;
  } while (lit(j, ','));
  return lit(j, ']') ? SCAN_OK : SCAN_BAD;
}

static scan_status skip_member(scan *j) { return skip_value(j) ? SCAN_OK : SCAN_BAD; }

/* A member of the item seen last. */
static scan_status item_member(scan *j, span k, extras *x) {
  const Py_ssize_t i = x->seen_items - 1;
  if (span_is(k, "line")) {
    long long line;
    if (!read_int(j, &line)) return SCAN_BAD;
    x->s->items[i].line = line > INT32_MAX || line < 0 ? 0 : (int32_t)line;
    return SCAN_OK;
  }
  int f = span_is(k, "options") ? M_OPTIONS : span_is(k, "url") ? M_URL : span_is(k, "headers") ? M_HEADERS
        : span_is(k, "group") ? M_GROUP : span_is(k, "attrs") && x->s->dup_attrs && x->s->dup_attrs[i] ? M_ATTRS : -1;
  if (f < 0) return skip_member(j);
  scan_status st;
  PyObject *v = NULL, **dst;
  if (f == M_OPTIONS) st = records_array(j, option_type, option_names, 3, &v);
  else if (f == M_ATTRS || f == M_HEADERS) st = pairs_object(j, &v);
  else st = str_value(j, &v);
  if (st != SCAN_OK) return st;
  if ((st = more_slot(x, i, f, &dst)) != SCAN_OK) {
    Py_DECREF(v);
    return st;
  }
  Py_SETREF(*dst, v);
  return SCAN_OK;
}

static scan_status item_element(scan *j, extras *x) {
  if (x->seen_items++ >= x->s->n_items) return SCAN_BAD;
  return scan_object(j, item_member, x);
}

/* A member of the track seen last. */
static scan_status track_member(scan *j, span k, extras *x) {
  const Py_ssize_t t = x->seen_tracks - 1;
  track_rec *r = &x->s->tracks[t];
  long long v;
  if (span_is(k, "number") || span_is(k, "pregap") || span_is(k, "postgap")) {
    if (!read_int(j, &v)) return SCAN_BAD;
    if (k.s[0] == 'n') r->number = v > INT32_MAX || v < INT32_MIN ? 0 : (int32_t)v;
    else if (k.s[1] == 'r') r->pregap = v;
    else r->postgap = v;
    return SCAN_OK;
  }
  if (!span_is(k, "rem")) return skip_member(j);
  PyObject *rem;
  scan_status st = records_array(j, attr_type, rem_names, 2, &rem);
  if (st != SCAN_OK) return st;
  if (x->s->track_rem == NULL && !(x->s->track_rem = alloc_array(x->s->n_tracks, sizeof(PyObject *)))) {
    Py_DECREF(rem);
    return SCAN_ERROR;
  }
  Py_XSETREF(x->s->track_rem[t], rem);
  return SCAN_OK;
}

static scan_status track_element(scan *j, extras *x) {
  if (x->seen_tracks++ >= x->s->n_tracks) return SCAN_BAD;
  return scan_object(j, track_member, x);
}

static scan_status cue_member(scan *j, span k, extras *x) {
  if (span_is(k, "tracks")) return scan_array(j, track_element, x);
  if (span_is(k, "rem") && x->s->sheet_rem == NULL)
    return records_array(j, attr_type, rem_names, 2, &x->s->sheet_rem);
  return skip_member(j);
}

/* "{}" (no document could be written) reads as a document without items or
 * tracks, which a store that has some does not match. */
static scan_status doc_member(scan *j, span k, extras *x) {
  if (span_is(k, "items")) return scan_array(j, item_element, x);
  if (span_is(k, "cue")) return scan_object(j, cue_member, x);
  if (span_is(k, "header") && x->s->header == NULL) return pairs_object(j, &x->s->header);
  return skip_member(j);
}

/* Undoes a partial scan: a document that does not match the store adds
 * nothing. */
static void extras_drop(extras *x) {
  snapshot *s = x->s;
  for (Py_ssize_t i = 0; i < s->n_items; ++i) s->items[i].line = 0;
  for (Py_ssize_t t = 0; t < s->n_tracks; ++t) {
    s->tracks[t].number = 0;
    s->tracks[t].pregap = s->tracks[t].postgap = NO_GAP;
  }
  if (s->item_more)
    for (Py_ssize_t i = 0; i < s->n_items; ++i) Py_CLEAR(s->item_more[i]);
  if (s->track_rem)
    for (Py_ssize_t t = 0; t < s->n_tracks; ++t) Py_CLEAR(s->track_rem[t]);
  Py_CLEAR(s->header);
  Py_CLEAR(s->sheet_rem);
}

/* Reads the document's members into `s`, which must be what the store
 * holds; called with lib_lock held. */
static int complete(snapshot *s) {
  extras x = {s, 0, 0};
  const char *doc = kavlo_result_json_full();
  scan j = {doc, doc + strlen(doc), 0};
  scan_status st = scan_object(&j, doc_member, &x);
  if (st == SCAN_ERROR) {
    extras_drop(&x);
    return -1;
  }
  if (st != SCAN_OK || x.seen_items != s->n_items || x.seen_tracks != s->n_tracks) extras_drop(&x);
  s->complete = 1;
  PyMem_Free(s->dup_attrs);
  s->dup_attrs = NULL;
  if (pending == s) pending = NULL;
  return 0;
}

/* Before the store changes: the pending snapshot takes what it still
 * needs. Called with lib_lock held. */
static int settle(void) {
  if (pending == NULL) return 0;
  snapshot *s = pending;
  Py_INCREF(s);
  int rc = complete(s);
  pending = NULL;
  s->complete = 1;
  Py_DECREF(s);
  return rc;
}

/* For a reader of the document's members. */
static int ensure_complete(snapshot *s) {
  if (s->complete) return 0;
  /* Python code run while this thread holds the lock (a finalizer during
   * a collection) gets the entry without those members rather than a
   * deadlock. */
  if (lib_owner == PyThread_get_thread_ident()) return 0;
  lock_lib();
  int rc = 0;
  if (!s->complete) {
    if (s == pending) rc = complete(s);
    else s->complete = 1; /* cannot happen: settled before the store changed */
  }
  unlock_lib();
  return rc;
}

/* ---- records built from the snapshot ---------------------------------------- */

/* An item: its accessor fields, and the snapshot and index its document
 * members (line, options, url, headers, group) are read from on demand.
 * Only an item with a repeated attribute key needs the document at once. */
static PyObject *make_item(snapshot *s, Py_ssize_t i) {
  if (s->dup_attrs && s->dup_attrs[i] && ensure_complete(s) < 0) return NULL;
  const item_rec *r = &s->items[i];
  PyObject *more = s->item_more ? s->item_more[i] : NULL;
  PyObject *item = record(item_type, ITEM_FIELDS);
  if (item == NULL) return NULL;
  PyObject *attrs;
  if (more && PyTuple_GET_ITEM(more, M_ATTRS) != Py_None) {
    attrs = new_ref(PyTuple_GET_ITEM(more, M_ATTRS));
  } else if (r->attr_count == 0) {
    attrs = new_ref(empty_tuple);
  } else if ((attrs = PyTuple_New(2 * (Py_ssize_t)r->attr_count)) != NULL) {
    for (uint32_t a = 0; a < r->attr_count; ++a) {
      const attr_rec *ar = &s->attrs[r->attr_first + a];
      PyObject *v = ref_str_or_empty(s, ar->value);
      if (v == NULL) {
        for (uint32_t b = a; b < r->attr_count; ++b) {
          PyTuple_SET_ITEM(attrs, 2 * b, new_ref(empty_str));
          PyTuple_SET_ITEM(attrs, 2 * b + 1, new_ref(empty_str));
        }
        Py_CLEAR(attrs);
        break;
      }
      PyTuple_SET_ITEM(attrs, 2 * a, new_ref(PyList_GET_ITEM(s->keys, ar->key)));
      PyTuple_SET_ITEM(attrs, 2 * a + 1, v);
    }
  }
  SET(item, I_LOCATION, ref_str_or_empty(s, r->location));
  SET(item, I_TITLE, ref_str_or_empty(s, r->title));
  SET(item, I_DURATION, PyLong_FromLong(r->duration_ms));
  SET(item, I_RELEASE, PyLong_FromLong(r->release_date));
  SET(item, I_ATTRS, attrs);
  SET(item, I_SOURCE, new_ref((PyObject *)s));
  SET(item, I_INDEX, PyLong_FromSsize_t(i));
  for (int f = 0; f < ITEM_FIELDS; ++f)
    if (PyTuple_GET_ITEM(item, f) == NULL) {
      Py_DECREF(item);
      return NULL;
    }
  return item;
}

static PyObject *gap(int64_t v) { return v == NO_GAP ? new_ref(Py_None) : PyLong_FromLongLong(v); }

static PyObject *make_track(snapshot *s, Py_ssize_t t) {
  if (ensure_complete(s) < 0) return NULL;
  const track_rec *r = &s->tracks[t];
  PyObject *track = record(track_type, TRACK_FIELDS);
  if (track == NULL) return NULL;
  PyObject *indices = PyList_New((Py_ssize_t)r->index_count);
  SET(track, T_NUMBER, PyLong_FromLong(r->number));
  for (int f = T_DATATYPE; f <= T_FLAGS; ++f) SET(track, f, ref_str(s, r->field[f - T_DATATYPE]));
  SET(track, T_INDICES, indices);
  SET(track, T_PREGAP, gap(r->pregap));
  SET(track, T_POSTGAP, gap(r->postgap));
  SET(track, T_REM, new_ref(s->track_rem && s->track_rem[t] ? s->track_rem[t] : empty_tuple));
  for (int f = 0; f < TRACK_FIELDS; ++f)
    if (PyTuple_GET_ITEM(track, f) == NULL) goto fail;
  for (uint32_t x = 0; x < r->index_count; ++x) {
    const index_rec *ir = &s->indices[r->index_first + x];
    PyObject *idx = record(index_type, 3);
    if (idx == NULL) goto fail;
    PyList_SET_ITEM(indices, x, idx);
    SET(idx, 0, PyLong_FromLong(ir->number));
    SET(idx, 1, PyLong_FromLongLong(ir->frames));
    SET(idx, 2, PyLong_FromLong(ir->ms));
    if (!PyTuple_GET_ITEM(idx, 0) || !PyTuple_GET_ITEM(idx, 1) || !PyTuple_GET_ITEM(idx, 2)) goto fail;
  }
  return track;
fail:
  Py_DECREF(track);
  return NULL;
}

/* ---- the sequences Result.items and Result.tracks ----------------------------- */

typedef struct {
  PyObject_HEAD
  snapshot *s;
  int tracks; /* 0: items, 1: tracks */
} records;

static Py_ssize_t records_len(records *r) { return r->tracks ? r->s->n_tracks : r->s->n_items; }

static PyObject *records_item(records *r, Py_ssize_t i) {
  Py_ssize_t n = records_len(r);
  if (i < 0 || i >= n) {
    PyErr_SetString(PyExc_IndexError, r->tracks ? "track index out of range" : "item index out of range");
    return NULL;
  }
  return r->tracks ? make_track(r->s, i) : make_item(r->s, i);
}

static PyObject *records_subscript(records *r, PyObject *key) {
  if (PyIndex_Check(key)) {
    Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return NULL;
    if (i < 0) i += records_len(r);
    return records_item(r, i);
  }
  if (PySlice_Check(key)) {
    Py_ssize_t start, stop, step;
    if (PySlice_Unpack(key, &start, &stop, &step) < 0) return NULL;
    Py_ssize_t n = PySlice_AdjustIndices(records_len(r), &start, &stop, step);
    PyObject *list = PyList_New(n);
    if (list == NULL) return NULL;
    for (Py_ssize_t k = 0, i = start; k < n; ++k, i += step) {
      PyObject *o = records_item(r, i);
      if (o == NULL) {
        for (Py_ssize_t m = k; m < n; ++m) PyList_SET_ITEM(list, m, new_ref(Py_None));
        Py_DECREF(list);
        return NULL;
      }
      PyList_SET_ITEM(list, k, o);
    }
    return list;
  }
  PyErr_Format(PyExc_TypeError, "indices must be integers or slices, not %.100s", Py_TYPE(key)->tp_name);
  return NULL;
}

static void records_dealloc(records *r) {
  Py_XDECREF(r->s);
  Py_TYPE(r)->tp_free((PyObject *)r);
}

static PyObject *records_repr(records *r) {
  Py_ssize_t n = records_len(r);
  return PyUnicode_FromFormat("<kavlo %s: %zd>", r->tracks ? "tracks" : "items", n);
}

static PyObject *records_richcompare(records *a, PyObject *b, int op) {
  /* Compares as the list of its records would. */
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  PyObject *la = PySequence_List((PyObject *)a);
  if (la == NULL) return NULL;
  PyObject *lb = Py_TYPE(b) == Py_TYPE(a) ? PySequence_List(b) : new_ref(b);
  if (lb == NULL) {
    Py_DECREF(la);
    return NULL;
  }
  PyObject *res = PyObject_RichCompare(la, lb, op);
  Py_DECREF(la);
  Py_DECREF(lb);
  return res;
}

static PySequenceMethods records_as_sequence = {
    .sq_length = (lenfunc)records_len,
    .sq_item = (ssizeargfunc)records_item,
};
static PyMappingMethods records_as_mapping = {
    .mp_length = (lenfunc)records_len,
    .mp_subscript = (binaryfunc)records_subscript,
};

static PyTypeObject records_type = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "kavlo.Records",
    .tp_basicsize = sizeof(records),
    .tp_dealloc = (destructor)records_dealloc,
    .tp_repr = (reprfunc)records_repr,
    .tp_as_sequence = &records_as_sequence,
    .tp_as_mapping = &records_as_mapping,
    .tp_richcompare = (richcmpfunc)records_richcompare,
#ifdef Py_TPFLAGS_SEQUENCE
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_SEQUENCE,
#else
    .tp_flags = Py_TPFLAGS_DEFAULT,
#endif
    .tp_doc = "The entries of a result, built when they are read (a read-only sequence).",
};

static PyTypeObject snapshot_type = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "kavlo._kavlo.Snapshot",
    .tp_basicsize = sizeof(snapshot),
    .tp_dealloc = (destructor)snapshot_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
};

static PyObject *records_new(snapshot *s, int tracks) {
  records *r = PyObject_New(records, &records_type);
  if (r == NULL) return NULL;
  Py_INCREF(s);
  r->s = s;
  r->tracks = tracks;
  return (PyObject *)r;
}

/* ---- collection ------------------------------------------------------------ */

static PyObject *warnings_list(void) {
  int n = kavlo_warning_count();
  PyObject *list = PyList_New(n);
  if (list == NULL) return NULL;
  for (int w = 0; w < n; ++w) {
    const char *p = kavlo_warning(w);
    PyObject *s = p ? decode(p, strlen(p)) : new_ref(empty_str);
    if (s == NULL) {
      for (int r = w; r < n; ++r) PyList_SET_ITEM(list, r, new_ref(Py_None));
      Py_DECREF(list);
      return NULL;
    }
    PyList_SET_ITEM(list, w, s);
  }
  return list;
}

static PyObject *sheet_fields(void) {
  static const char *const keys[] = {"TITLE", "PERFORMER", "SONGWRITER", "CATALOG", "CDTEXTFILE"};
  PyObject *t = PyTuple_New(5);
  if (t == NULL) return NULL;
  for (int i = 0; i < 5; ++i) {
    const char *p = kavlo_cue_meta(keys[i]);
    PyObject *s = p ? decode(p, strlen(p)) : new_ref(Py_None);
    if (s == NULL) {
      for (int r = i; r < 5; ++r) PyTuple_SET_ITEM(t, r, new_ref(Py_None));
      Py_DECREF(t);
      return NULL;
    }
    PyTuple_SET_ITEM(t, i, s);
  }
  return t;
}

/* The result of the parse that just ended, with lib_lock held:
 * (format, imdb, items, sheet fields, tracks, warnings, snapshot). A CUE
 * sheet's track numbers and REM lines are read from the document at once;
 * what the document adds to other results, when first asked for. */
static PyObject *collect(void) {
  PyObject *warnings = NULL, *sheet = NULL, *items = NULL, *tracks = NULL, *out = NULL;
  snapshot *s = snapshot_take();
  memset(ref_cache, 0, sizeof ref_cache);
  if (s == NULL) return NULL;
  if ((warnings = warnings_list()) == NULL || (sheet = sheet_fields()) == NULL) goto done;
  latest = s;
  if (kavlo_detected_format() == KAVLO_FORMAT_CUE) {
    if (complete(s) < 0) goto done;
  } else {
    pending = s;
  }
  if ((items = records_new(s, 0)) == NULL || (tracks = records_new(s, 1)) == NULL) goto done;
  out = Py_BuildValue("(iNNNNNO)", kavlo_detected_format(), PyBool_FromLong(kavlo_m3u_is_imdb_date_playlist()),
                      items, sheet, tracks, warnings, (PyObject *)s);
  items = tracks = warnings = sheet = NULL;
done:
  Py_XDECREF(items);
  Py_XDECREF(tracks);
  Py_XDECREF(warnings);
  Py_XDECREF(sheet);
  Py_DECREF(s);
  return out;
}

/* After a parse call: (0, collected result), or (status, message). */
static PyObject *finish(int rc) {
  PyObject *out;
  if (rc != KAVLO_OK) {
    const char *m = kavlo_last_error();
    PyObject *msg = decode(m, strlen(m));
    out = msg ? Py_BuildValue("(iN)", rc, msg) : NULL;
  } else {
    PyObject *res = collect();
    out = res ? Py_BuildValue("(iN)", rc, res) : NULL;
  }
  return out;
}

/* ---- entry points -------------------------------------------------------- */

/* parse(data, format, encoding) -> (0, result) or (status, message). */
static PyObject *py_parse(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  int format;
  const char *encoding;
  if (!PyArg_ParseTuple(args, "y*iz", &buf, &format, &encoding)) return NULL;
  lock_lib();
  PyObject *out = NULL;
  if (settle() == 0) {
    latest = NULL;
    int rc;
    Py_BEGIN_ALLOW_THREADS
    rc = kavlo_parse_enc(buf.len ? buf.buf : NULL, (size_t)buf.len, format, encoding);
    Py_END_ALLOW_THREADS
    out = finish(rc);
  }
  unlock_lib();
  PyBuffer_Release(&buf);
  return out;
}

/* parse_auto(data, format) -> ((0, result) or (status, message), encoding):
 * the "auto" encoding of kavlo_auto.h; encoding is the one used, "" when
 * unknown. */
static PyObject *py_parse_auto(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  int format;
  char used[KAVLO_AUTO_NAME_SIZE] = "";
  if (!PyArg_ParseTuple(args, "y*i", &buf, &format)) return NULL;
  lock_lib();
  PyObject *out = NULL;
  if (settle() == 0) {
    latest = NULL;
    int rc;
    Py_BEGIN_ALLOW_THREADS
    rc = kavlo_auto_parse(buf.len ? buf.buf : NULL, (size_t)buf.len, format, used);
    Py_END_ALLOW_THREADS
    PyObject *outcome = finish(rc);
    out = outcome ? Py_BuildValue("(Ns)", outcome, used) : NULL;
  }
  unlock_lib();
  PyBuffer_Release(&buf);
  return out;
}

/* parse_file(path, encoding) -> (0, result) or (status, message). */
static PyObject *py_parse_file(PyObject *self, PyObject *args) {
  (void)self;
  const char *path, *encoding;
  if (!PyArg_ParseTuple(args, "yz", &path, &encoding)) return NULL;
  lock_lib();
  PyObject *out = NULL;
  if (settle() == 0) {
    /* A file that cannot be read leaves the store as it was; the
     * snapshot of it is complete now, and to_json() renders it. */
    latest = NULL;
    int rc;
    Py_BEGIN_ALLOW_THREADS
    rc = kavlo_parse_file_enc(path, encoding);
    Py_END_ALLOW_THREADS
    out = finish(rc);
  }
  unlock_lib();
  return out;
}

static PyObject *py_detect(PyObject *self, PyObject *args) {
  (void)self;
  Py_buffer buf;
  if (!PyArg_ParseTuple(args, "y*", &buf)) return NULL;
  lock_lib();
  /* Detection adds its decoding warnings to the stored result, so the
   * library's document no longer matches the last snapshot. */
  latest = NULL;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = kavlo_detect(buf.len ? buf.buf : NULL, (size_t)buf.len);
  Py_END_ALLOW_THREADS
  unlock_lib();
  PyBuffer_Release(&buf);
  return PyLong_FromLong(rc);
}

/* result_json(snapshot, full) -> the library's document, or None when the
 * store no longer holds that result. */
static PyObject *py_result_json(PyObject *self, PyObject *args) {
  (void)self;
  PyObject *snap;
  int full;
  if (!PyArg_ParseTuple(args, "O!p", &snapshot_type, &snap, &full)) return NULL;
  lock_lib();
  PyObject *out;
  if ((snapshot *)snap != latest) {
    out = new_ref(Py_None);
  } else {
    const char *t = full ? kavlo_result_json_full() : kavlo_result_json();
    out = PyUnicode_DecodeUTF8(t, (Py_ssize_t)strlen(t), "strict");
  }
  unlock_lib();
  return out;
}

/* item_extra(snapshot, i) -> (line, options, url, headers, group) of item i. */
static PyObject *py_item_extra(PyObject *self, PyObject *args) {
  (void)self;
  PyObject *snap;
  Py_ssize_t i;
  if (!PyArg_ParseTuple(args, "O!n", &snapshot_type, &snap, &i)) return NULL;
  snapshot *s = (snapshot *)snap;
  if (i < 0 || i >= s->n_items) {
    PyErr_SetString(PyExc_IndexError, "item index out of range");
    return NULL;
  }
  if (ensure_complete(s) < 0) return NULL;
  PyObject *more = s->item_more ? s->item_more[i] : NULL;
  if (more == NULL) return Py_BuildValue("(iOOOO)", (int)s->items[i].line, empty_tuple, Py_None, Py_None, Py_None);
  PyObject *options = PyTuple_GET_ITEM(more, M_OPTIONS);
  return Py_BuildValue("(iOOOO)", (int)s->items[i].line, options == Py_None ? empty_tuple : options,
                       PyTuple_GET_ITEM(more, M_URL), PyTuple_GET_ITEM(more, M_HEADERS), PyTuple_GET_ITEM(more, M_GROUP));
}

/* extras(snapshot) -> (header, sheet rem): what the document adds to the
 * result itself. */
static PyObject *py_extras(PyObject *self, PyObject *snap) {
  (void)self;
  if (!PyObject_TypeCheck(snap, &snapshot_type)) {
    PyErr_SetString(PyExc_TypeError, "snapshot expected");
    return NULL;
  }
  snapshot *s = (snapshot *)snap;
  if (ensure_complete(s) < 0) return NULL;
  return Py_BuildValue("(OO)", s->header ? s->header : empty_tuple, s->sheet_rem ? s->sheet_rem : empty_tuple);
}

static PyObject *py_library_version(PyObject *self, PyObject *noargs) {
  (void)self;
  (void)noargs;
  return PyUnicode_FromString(kavlo_version());
}

static PyObject *py_format_name(PyObject *self, PyObject *arg) {
  (void)self;
  long code = PyLong_AsLong(arg);
  if (code == -1 && PyErr_Occurred()) return NULL;
  if (code < INT_MIN || code > INT_MAX) code = KAVLO_FORMAT_UNKNOWN;
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

/* bind(Item, Track, Index, Option, Attr): the record classes made in Python. */
static PyObject *py_bind(PyObject *self, PyObject *args) {
  (void)self;
  PyTypeObject *t[5];
  if (!PyArg_ParseTuple(args, "O!O!O!O!O!", &PyType_Type, &t[0], &PyType_Type, &t[1], &PyType_Type, &t[2],
                        &PyType_Type, &t[3], &PyType_Type, &t[4]))
    return NULL;
  for (int i = 0; i < 5; ++i)
    if (!PyType_IsSubtype(t[i], &PyTuple_Type)) {
      PyErr_SetString(PyExc_TypeError, "record classes must derive from tuple");
      return NULL;
    }
  PyTypeObject **slots[5] = {&item_type, &track_type, &index_type, &option_type, &attr_type};
  for (int i = 0; i < 5; ++i) {
    Py_INCREF(t[i]);
    Py_XSETREF(*slots[i], t[i]);
  }
  Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"parse", py_parse, METH_VARARGS, "parse(data, format, encoding) -> status"},
    {"parse_file", py_parse_file, METH_VARARGS, "parse_file(path, encoding) -> status"},
    {"parse_auto", py_parse_auto, METH_VARARGS, "parse_auto(data, format) -> (outcome, encoding)"},
    {"detect", py_detect, METH_VARARGS, "detect(data) -> format code"},
    {"result_json", py_result_json, METH_VARARGS, "result_json(snapshot, full) -> the library's document or None"},
    {"extras", py_extras, METH_O, "extras(snapshot) -> (header, sheet rem)"},
    {"item_extra", py_item_extra, METH_VARARGS, "item_extra(snapshot, i) -> (line, options, url, headers, group)"},
    {"library_version", py_library_version, METH_NOARGS, "the version of the library in use"},
    {"format_name", py_format_name, METH_O, "the library's name of a format code"},
    {"attrs_dict", py_attrs_dict, METH_O, "mapping of a flat (key, value, ...) tuple, first value winning"},
    {"bind", py_bind, METH_VARARGS, "registers the record classes"},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_kavlo", "Native half of the kavlo module.", -1,
                                    methods, NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__kavlo(void) {
  PyObject *m = PyModule_Create(&module);
  if (m == NULL) return NULL;
  lib_lock = PyThread_allocate_lock();
  if (lib_lock == NULL) {
    Py_DECREF(m);
    return PyErr_NoMemory();
  }
  empty_str = PyUnicode_FromStringAndSize("", 0);
  empty_tuple = PyTuple_New(0);
  if (empty_str == NULL || empty_tuple == NULL || PyType_Ready(&snapshot_type) < 0 ||
      PyType_Ready(&records_type) < 0 || PyModule_AddStringConstant(m, "VERSION", KAVLO_PY_VERSION) < 0) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
