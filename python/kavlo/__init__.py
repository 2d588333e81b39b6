"""Python interface to the kavlo playlist-parsing library.

    import kavlo
    result = kavlo.parse_file("list.m3u")
    for item in result.items:
        print(item.location, item.title, item.attrs.get("group-title"))

Each Result owns a parsed playlist of the library (a handle of its own),
freed with it: results never change after they were made, and threads parse
in parallel (the GIL is released while a file is read and parsed). Entries
are built from the library's accessors when they are read; to_json() is the
library's own document.

The native part (kavlo._kavlo) finds libkavlo beside it (a wheel carries
it) or where `make install` put it. The environment variable KAVLO_LIBRARY,
when set, names a library file that is loaded in its place.

A failed parse raises KavloError (KavloOSError, also an OSError, for a file
that cannot be read); an unknown encoding name raises LookupError.
"""

import collections.abc
import enum
import errno as _errno
import operator
import os
import stat
from typing import NamedTuple, Optional, Tuple


def _load_native():
    override = os.environ.get("KAVLO_LIBRARY")
    if override:
        # Loaded first and globally, the named file satisfies the native
        # module's dependency on libkavlo.so.0 in place of the bundled one.
        import ctypes

        ctypes.CDLL(override, mode=ctypes.RTLD_GLOBAL)
    from . import _kavlo as native

    return native


_native = _load_native()

__version__ = _native.VERSION

__all__ = [
    "Attr", "Catchup", "CueSheet", "Diagnostic", "Format", "Index", "Item", "KavloError", "KavloOSError", "Option",
    "Records", "Result", "Status", "Track", "__version__", "detect", "parse", "parse_file", "write",
]


class Format(enum.IntEnum):
    """Format codes. str() gives the library's name ("m3u", "cue", ...)."""

    AUTO = -1
    M3U = 0
    M3U8_HLS = 1
    STREAMING_LIST = 2
    CUE = 3
    UNKNOWN = 4

    def __str__(self):
        return _native.format_name(int(self))

    def __format__(self, fmt):
        return format(str(self), fmt)

    @classmethod
    def from_name(cls, name):
        """The format of a name: the library's ("streaming-list") or the
        member's ("STREAMING_LIST"), in any letter case."""
        folded = name.strip().lower().replace("_", "-")
        for member in cls:
            if str(member) == folded:
                return member
        raise ValueError(f"unknown format {name!r}")


class Status(enum.IntEnum):
    """Status codes of a failed parse."""

    OK = 0
    ERR_DECODE = 1
    ERR_FORMAT = 3
    ERR_INVALID = 4
    ERR_IO = 5
    ERR_NOMEM = 6


def _status(code):
    return Status(code) if code in Status._value2member_map_ else code


class KavloError(Exception):
    """A parse that failed: `status` is the library's status (a Status),
    `message` its error text ("" for ERR_NOMEM)."""

    def __init__(self, status, message):
        super().__init__(status, message)
        self.status = _status(status)
        self.message = message

    def __str__(self):
        name = getattr(self.status, "name", str(self.status))
        return f"{name}: {self.message}" if self.message else name


_ERRNO = {os.strerror(n): n for n in _errno.errorcode}


class KavloOSError(KavloError, OSError):
    """A file that could not be read (status ERR_IO): an OSError as well,
    with `errno`, `strerror` and `filename`. Raised as its subclass that is
    also FileNotFoundError, PermissionError, IsADirectoryError or
    NotADirectoryError where one fits."""

    def __init__(self, status, message, filename=None):
        reason = message[4:] if message.startswith("io: ") else message
        OSError.__init__(self, _ERRNO.get(reason), reason, filename)
        self.status = _status(status)
        self.message = message

    __str__ = OSError.__str__

    def __reduce__(self):
        return (type(self), (int(self.status), self.message, self.filename))


_OS_ERRORS = {}
for _base in (FileNotFoundError, PermissionError, IsADirectoryError, NotADirectoryError):
    _name = "Kavlo" + _base.__name__
    globals()[_name] = _OS_ERRORS[_base] = type(_name, (KavloOSError, _base), {"__module__": __name__, "__doc__":
                                                f"KavloOSError that is also {_base.__name__}."})


def _failure(status, message, path=None):
    if status != Status.ERR_IO or path is None:
        return KavloError(status, message)
    exc = KavloOSError(status, message, path)
    cls = _OS_ERRORS.get(type(OSError(exc.errno, "")))  # OSError(errno, ...) is of the subclass that fits
    return cls(status, message, path) if cls else exc


class Attr(NamedTuple):
    """An #EXTINF or #EXTM3U attribute, or a REM line of a CUE sheet."""

    key: str
    value: str


class Option(NamedTuple):
    """A tag line the M3U parser keeps for the entry after it, e.g.
    #EXTVLCOPT:http-referrer=x gives Option("EXTVLCOPT", "http-referrer", "x")."""

    tag: str
    key: str
    value: str


class Index(NamedTuple):
    """An INDEX point of a CUE track: its number and its position in CD
    frames (75 a second) and in milliseconds."""

    number: int
    frames: int
    ms: int


class Catchup(NamedTuple):
    """The catch-up (archive) settings of an entry: the attributes catchup,
    catchup-source, catchup-days and tvg-shift of its #EXTINF line, else of
    the #EXTM3U line (None when neither gives one)."""

    mode: Optional[str] = None
    source: Optional[str] = None
    days: Optional[str] = None
    shift: Optional[str] = None


class Diagnostic(NamedTuple):
    """A warning with the 1-based line that raised it (0 for the decoding
    warnings, which concern the whole text) and its subject (the tag, key,
    URL or encoding; "" when there is none), or something the parse lost
    without a warning ("m3u: line cut at a NUL byte", ...)."""

    line: int
    message: str
    subject: str


class CueSheet(NamedTuple):
    """The sheet-level fields of a CUE sheet (None when not set)."""

    title: Optional[str] = None
    performer: Optional[str] = None
    songwriter: Optional[str] = None
    catalog: Optional[str] = None
    cdtextfile: Optional[str] = None
    rem: Tuple[Attr, ...] = ()


_FOLD = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


def _flatten(pairs):
    """A flat (key, value, ...) tuple of a mapping or of (key, value) pairs."""
    if pairs is None:
        return ()
    if isinstance(pairs, collections.abc.Mapping):
        pairs = pairs.items()
    elif isinstance(pairs, (str, bytes)):
        raise TypeError(f"a mapping or (key, value) pairs expected, not {type(pairs).__name__}")
    out = []
    for pair in pairs:
        if isinstance(pair, (str, bytes)) or len(pair) != 2:
            raise TypeError(f"a (key, value) pair expected, not {pair!r}")
        out += pair
    return tuple(out)


try:  # the C descriptor behind namedtuple fields
    from collections import _tuplegetter  # type: ignore[attr-defined]
except ImportError:  # pragma: no cover - other interpreters
    _tuplegetter = None


def _field(i, doc):
    return _tuplegetter(i, doc) if _tuplegetter else property(operator.itemgetter(i), doc=doc)


def _rebuild(cls, fields):
    return tuple.__new__(cls, fields)


class _Record(tuple):
    __slots__ = ()
    _names: Tuple[str, ...] = ()

    def __reduce__(self):
        return (_rebuild, (type(self), tuple(self)))

    def __repr__(self):
        shown = [f"{n}={getattr(self, n)!r}" for n in self._names if self._shown(n)]
        return f"{type(self).__name__}({', '.join(shown)})"


class Item(_Record):
    """One playlist entry. Immutable; compares and hashes by value."""

    __slots__ = ()
    _names = ("location", "title", "duration_ms", "release_date", "attrs", "line", "options", "url", "headers",
              "group", "http", "groups", "catchup", "alternates", "label")

    # Stored as (location, title, duration_ms, release_date, attributes as
    # a flat (key, value, ...) tuple, line, options, url, headers flat,
    # group, http flat, groups, catchup, alternates, label).
    def __new__(cls, location, title="", duration_ms=-1, release_date=0, attrs=None, line=0, options=(),
                url=None, headers=None, group=None, http=None, groups=(), catchup=None, alternates=(),
                label=None):
        return tuple.__new__(cls, (location, title, duration_ms, release_date, _flatten(attrs), line,
                                   tuple(options), url, _flatten(headers), group, _flatten(http), tuple(groups),
                                   catchup, tuple(alternates), label))

    location = _field(0, "path or URL; \"\" when the playlist gave none")
    title = _field(1, "title; \"\" when the playlist gave none")
    duration_ms = _field(2, "duration in milliseconds, -1 when unknown")
    release_date = _field(3, "release date of an IMDb date playlist entry (19990331), else 0")
    line = _field(5, "1-based line of the entry in the decoded text (of a CUE sheet's TRACK line)")
    options = _field(6, "tag lines kept for this entry (#EXTVLCOPT, #KODIPROP, ...), in order")
    url = _field(7, "the location before its |Key=Value headers, when it has any")
    group = _field(9, "in a streaming list, NAME of the last NAME,#genre# line before the entry")
    groups = _field(11, "the groups of the #EXTGRP: lines before the entry's location, in order")
    catchup = _field(12, "the catch-up settings (a Catchup), None when the entry has none")
    alternates = _field(13, "in a streaming list, the further addresses of URL#URL2#URL3, without labels")
    label = _field(14, "in a streaming list, the label of URL$LABEL")

    @property
    def attrs(self):
        """The #EXTINF attributes by key; for a key written twice the first
        value wins."""
        return _native.attrs_dict(self[4])

    @property
    def attr_list(self):
        """Every attribute in source order, repeated keys included."""
        flat = self[4]
        return [Attr(flat[i], flat[i + 1]) for i in range(0, len(flat), 2)]

    @property
    def headers(self):
        """The Key=Value pairs after | in the location (first value wins)."""
        return _native.attrs_dict(self[8])

    @property
    def http(self):
        """The request headers a player should send, by lower-case name
        ("user-agent", "referer", ...): from the location's | headers,
        #EXTHTTP, #EXTVLCOPT and #KODIPROP lines, the entry's and the
        #EXTM3U line's attributes, the first of these that gives a name a
        value deciding."""
        return _native.attrs_dict(self[10])

    def attr(self, key):
        """Value of the first attribute whose key equals `key` with ASCII
        letters folded; None when there is none."""
        flat, folded = self[4], key.translate(_FOLD)
        for i in range(0, len(flat), 2):
            if flat[i] == key or flat[i].translate(_FOLD) == folded:
                return flat[i + 1]
        return None

    def _shown(self, name):
        return name in ("location", "title", "duration_ms") or bool(getattr(self, name))


class Track(_Record):
    """One CUE track. Immutable; fields the sheet did not set are None."""

    __slots__ = ()
    _names = ("number", "datatype", "title", "performer", "songwriter", "isrc", "file", "flags", "indices",
              "pregap", "postgap", "rem")

    def __new__(cls, number, datatype=None, title=None, performer=None, songwriter=None, isrc=None, file=None,
                flags=None, indices=(), pregap=None, postgap=None, rem=()):
        return tuple.__new__(cls, (number, datatype, title, performer, songwriter, isrc, file, flags,
                                   tuple(indices), pregap, postgap, tuple(rem)))

    number = _field(0, "the number of the TRACK line")
    datatype = _field(1, "AUDIO, MODE1/2352, ...")
    title = _field(2, "TITLE")
    performer = _field(3, "PERFORMER")
    songwriter = _field(4, "SONGWRITER")
    isrc = _field(5, "ISRC")
    file = _field(6, "the FILE in force when the track opened")
    flags = _field(7, "FLAGS as written")
    indices = _field(8, "INDEX points in source order")
    pregap = _field(9, "PREGAP in frames")
    postgap = _field(10, "POSTGAP in frames")
    rem = _field(11, "the track's REM lines")

    def _shown(self, name):
        v = getattr(self, name)
        return name in ("number", "indices") or (v is not None and v != ())


_native.bind(Item, Track, Index, Option, Attr, Catchup)


class Records(collections.abc.Sequence):
    """The entries (Item or Track) of a result: a read-only sequence whose
    records are built from the library's result when they are read."""

    __slots__ = ("_get", "_n")

    def __init__(self, get, n):
        self._get, self._n = get, n

    def __len__(self):
        return self._n

    def __getitem__(self, i):
        try:  # a range checks the index, counts it from the end or gives a slice's
            at = range(self._n)[i]
        except IndexError:
            raise IndexError("record index out of range") from None
        return list(map(self._get, at)) if isinstance(i, slice) else self._get(at)

    def __iter__(self):
        return map(self._get, range(self._n))

    def __reversed__(self):
        return map(self._get, range(self._n - 1, -1, -1))

    def __eq__(self, other):
        if isinstance(other, (Records, list, tuple)):
            return len(self) == len(other) and all(a == b for a, b in zip(self, other))
        return NotImplemented

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self):
        return (tuple, (tuple(self),))

    def __repr__(self):
        return f"<kavlo.Records: {self._n}>"


_RESULT_FIELDS = ("format", "items", "tracks", "imdb_date_playlist", "cue", "warnings", "encoding", "header", "title",
                  "epg", "diagnostics")


class Result:
    """The outcome of one parse. It owns the library's parsed playlist and
    does not change after it was made.

    Besides the entries (`items`, and `tracks` of a CUE sheet), `header`
    holds the #EXTM3U line's attributes, `title` the text of the first
    #PLAYLIST: line (None without one), `epg` the EPG addresses of the
    #EXTM3U line (x-tvg-url, url-tvg), and `diagnostics` every warning as a
    Diagnostic with its line and subject, along with what the parse lost
    without a warning."""

    __slots__ = _RESULT_FIELDS + ("_p", "_json")

    def to_json(self, full=False):
        """The library's JSON document of this result; with `full`, the
        full document (every member the library can tell)."""
        return self._json[bool(full)] if self._p is None else self._p.json(bool(full))

    @property
    def json_text(self):
        return self.to_json()

    def to_text(self, format=None, bom=False, crlf=False):
        """The library's text of this result in `format`: "m3u" (extended
        M3U) or "streaming-list" from any result, "cue" from a CUE sheet,
        None (the default) in the result's own format. `bom` begins the
        text with U+FEFF (the byte-order mark once encoded), `crlf` ends
        its lines with CR LF. Parsing the text again in that format gives
        the same entries, line numbers and warnings aside.

        The text is a str; .encode("utf-8", "surrogateescape") gives the
        library's bytes exactly (bytes of the input that were not UTF-8
        are kept as lone surrogates, as in the records). Raises KavloError
        (ERR_FORMAT) for a format the result cannot be written in, and
        ValueError for a result restored from a pickle, which holds no
        parsed playlist (kavlo.write(result.items) still writes its
        entries)."""
        code = _format_code(format)
        if self._p is None:
            raise ValueError("a result restored from a pickle cannot be written; write its items with kavlo.write()")
        out = self._p.write(int(code), _flags(bom, crlf))
        if isinstance(out, int):
            target = "its own format" if code == Format.AUTO else str(code)
            raise KavloError(out, f"{self.format} result cannot be written as {target}")
        return out

    def to_m3u(self, bom=False, crlf=False):
        """The result as extended M3U text: to_text("m3u", bom, crlf)."""
        return self.to_text(Format.M3U, bom, crlf)

    def __reduce__(self):
        # By value: the records and the library's two documents.
        state = {n: getattr(self, n) for n in _RESULT_FIELDS}
        state.update(items=tuple(self.items), tracks=tuple(self.tracks), _p=None,
                     _json=(self.to_json(), self.to_json(True)))
        return (_restore, (state,))

    def __copy__(self):
        return self

    def __deepcopy__(self, memo):
        return self

    def __repr__(self):
        parts = [f"format={self.format}", f"items={len(self.items)}"]
        if self.format == Format.CUE:
            parts.append(f"tracks={len(self.tracks)}")
        if self.imdb_date_playlist:
            parts.append("imdb_date_playlist=True")
        parts.append(f"warnings={len(self.warnings)}")
        return f"<kavlo.Result {' '.join(parts)}>"


def _restore(state):
    r = Result.__new__(Result)
    for name, value in state.items():
        setattr(r, name, value)
    return r


def _result(out, path=None):
    if isinstance(out, tuple):
        raise _failure(*out, path)
    fmt, imdb, n_items, n_tracks, warnings, encoding, header, sheet, rem, title, epg, diagnostics = out.info()
    return _restore(dict(format=Format(fmt) if fmt in Format._value2member_map_ else Format.UNKNOWN,
                         items=Records(out.item, n_items), tracks=Records(out.track, n_tracks),
                         imdb_date_playlist=imdb, cue=CueSheet(*sheet, rem=rem), warnings=list(warnings),
                         encoding=encoding, header=_native.attrs_dict(header), title=title, epg=epg,
                         diagnostics=tuple(map(Diagnostic._make, diagnostics)), _p=out, _json=None))


def _flags(bom, crlf):
    return (1 if bom else 0) | (2 if crlf else 0)  # KAVLO_WRITE_BOM, KAVLO_WRITE_CRLF


def _format_code(format):
    if format is None:
        return Format.AUTO
    if isinstance(format, str):
        return Format.from_name(format)
    return Format(format)


def _encoding(encoding):
    """The name handed to the library: "auto" for None."""
    if encoding is None:
        return "auto"
    if not isinstance(encoding, str):
        raise TypeError(f"encoding must be a str, not {type(encoding).__name__}")
    if encoding and encoding.lower() != "auto" and not _native.encoding_known(encoding):
        raise LookupError(f"unknown encoding: {encoding}")
    return encoding


def _bytes(data, encoding):
    """Bytes of `data` and the encoding to read them in: a str is text
    already, read as UTF-8 by the library's own decoding."""
    if isinstance(data, str):
        if encoding is not None and encoding.lower() != "auto":
            raise ValueError("encoding given for a str; pass bytes to name their encoding")
        return data.encode("utf-8", "surrogateescape"), ""
    if isinstance(data, memoryview) and not data.c_contiguous:
        data = data.tobytes()
    return data, _encoding(encoding)


def parse(data, format=None, encoding=None):
    """Parses a playlist held in memory.

    `data` is bytes-like (bytes, bytearray, memoryview, ...) or a str, which
    is text already. `format` is a Format, its name ("m3u",
    "streaming-list", "cue") or None to detect it. `encoding` names the
    encoding of the bytes; None or "auto" (the default) lets the library
    read marked and UTF-8 text as it is and guess the encoding of other
    text; "" is the library's own chain (byte-order mark, UTF-8, then GBK,
    CP1252 and Latin-1). Result.encoding tells which encoding was used.
    Raises KavloError when the parse fails, LookupError for an encoding
    that iconv does not know."""
    data, enc = _bytes(data, encoding)
    return _result(_native.parse(data, _format_code(format), enc))


def parse_file(path, format=None, encoding=None):
    """Reads a file whole and parses it; pipes, FIFOs and /dev/stdin are
    read to their end. `format` and `encoding` as for parse(). Raises
    KavloOSError (with the OSError subclass that fits, FileNotFoundError
    for a missing file) when the file cannot be read."""
    fspath = os.fspath(path)
    code, enc = _format_code(format), _encoding(encoding)
    try:
        fifo = stat.S_ISFIFO(os.stat(fspath).st_mode)
    except (OSError, ValueError):
        fifo = False  # the library reports it
    if fifo:
        # The library opens a FIFO without waiting for a writer, and one
        # that has none yet reads as empty; open() waits (GIL released).
        try:
            with open(fspath, "rb") as f:
                data = f.read()
        except OSError as e:
            raise _failure(Status.ERR_IO, f"io: {e.strerror}", fspath) from None
        return _result(_native.parse(data, code, enc))
    return _result(_native.parse_file(os.fsencode(fspath), code, enc), fspath)


def _writable(entry, i):
    """An Item of an entry given to write()."""
    if isinstance(entry, Item):
        return entry
    try:
        if isinstance(entry, collections.abc.Mapping):
            return Item(**entry)
        if isinstance(entry, (str, bytes)):
            raise TypeError(f"a {type(entry).__name__} is not an entry")
        try:
            location = entry.location
        except AttributeError:
            raise TypeError(f"{type(entry).__name__} has no location") from None
        return Item(location, getattr(entry, "title", ""), getattr(entry, "duration_ms", -1),
                    attrs=getattr(entry, "attrs", None), options=getattr(entry, "options", ()),
                    group=getattr(entry, "group", None))
    except TypeError as e:
        raise TypeError(f"item {i}: {e}") from None


# The most attributes one #EXTINF or #EXTM3U line holds, and the longest
# duration an #EXTINF line holds.
_MAX_ATTRS, _MAX_DURATION_MS = 64, 2147483000

# What the builder takes of each kind of string (besides UTF-8 without CR
# and LF): what the M3U reader gives back as it was written.
_RULES = {
    "location": "the location must not be empty or begin with '#'",
    "attribute": "a key must not be empty or hold '=' or white space, and a value holding '\"' must not hold "
                 "white space or begin with '\"'",
    "option": "a tag is a letter, then letters, digits, '-' and '_' (not EXTINF, EXTGRP, EXTM3U or PLAYLIST), and "
              "its key holds no '='",
}


def _check(s, where, what, none_ok=False):
    """Raises the TypeError or ValueError of a string the builder cannot
    take (the native side checks the same before it adds one): not a str,
    holding a line break or NUL, or lone surrogates that stand for no
    bytes. `where` is "header" or "item N:"."""
    if s is None and none_ok:
        return
    if not isinstance(s, str):
        raise TypeError(f"{where} {what} must be a str, not {type(s).__name__}")
    if "\n" in s or "\r" in s or "\0" in s:
        held = "a NUL character" if next(c for c in s if c in "\0\n\r") == "\0" else "a line break"
        raise ValueError(f"{where} {what} holds {held}")
    s.encode("utf-8", "surrogateescape")


def _refused(rc, at, where, flat, entry=None, options=()):
    """Raises for what the builder refused at field `at` (0 the entry
    (location, title), 1 + k attribute k of the flat `flat`, then the
    options): rc -1 is a field _check explains, ERR_NOMEM MemoryError, any
    other status a ValueError telling the texts and the rule they broke."""
    n = len(flat) // 2
    if at == 0:
        _check(entry[0], where, "location"), _check(entry[1], where, "title", True)
        what, shown = "location", repr(entry[0])
    elif at <= n:
        key, value = flat[2 * at - 2], flat[2 * at - 1]
        _check(key, where, "attribute key"), _check(value, where, "attribute value")
        what, shown = "attribute", f"{key!r}={value!r}"
    else:
        option = options[at - 1 - n]
        if not isinstance(option, (tuple, list)) or len(option) != 3:
            raise TypeError(f"{where} option {at - 1 - n} is not a (tag, key, value) record")
        for text, name, none_ok in zip(option, ("option tag", "option key", "option value"), (False, True, True)):
            _check(text, where, name, none_ok)
        what, shown = "option", repr(option)
    if rc == -1 or rc == Status.ERR_NOMEM:
        raise MemoryError  # rc -1: the field passed _check when asked again
    raise ValueError(f"{where} {what} {shown} refused: {_RULES[what]} (and text is UTF-8)")


def _grouped(flat, group):
    """Attributes (flat) with `group` as their group-title: in place of the
    first group-title attribute (ASCII letters folded; later ones left out),
    or after them."""
    out, placed = [], False
    for k in range(0, len(flat), 2):
        key, value = flat[k], flat[k + 1]
        if isinstance(key, str) and key.translate(_FOLD) == "group-title":
            if placed:
                continue
            value, placed = group, True
        out += (key, value)
    return tuple(out) if placed else (*out, "group-title", group)


def _add(b, i, item):
    """Adds an Item: its location, title, duration, attributes (with its
    group) and options."""
    location, title, ms, _, flat, _, options, _, _, group = item[:10]
    if ms is None:
        ms = -1
    elif not isinstance(ms, int) or isinstance(ms, bool):
        raise TypeError(f"item {i}: duration_ms must be an int, not {type(ms).__name__}")
    elif not -1 <= ms <= _MAX_DURATION_MS:
        raise ValueError(f"item {i}: duration_ms {ms!r} is neither -1 nor 0 to {_MAX_DURATION_MS}")
    if group is not None:
        if not isinstance(group, str):
            raise TypeError(f"item {i}: group must be a str or None, not {type(group).__name__}")
        flat = _grouped(flat, group)
    if len(flat) > 2 * _MAX_ATTRS:
        raise ValueError(f"item {i}: {len(flat) // 2} attributes, more than an #EXTINF line holds ({_MAX_ATTRS})")
    failed = b.add(False, location, title, ms, flat, options)
    if failed:
        _refused(*failed, f"item {i}:", flat, (location, title), options)


def write(items, format="m3u", bom=False, crlf=False, header=None):
    """Writes entries a program made or edited as playlist text, as the
    library writes a parsed result (see Result.to_text()).

    `items` is an iterable of Item objects, of mappings with Item's field
    names (`location` required) or of objects with such attributes
    (dataclasses, named tuples, ...). Written are the location (with its
    |Key=Value headers), title, duration_ms (-1 for none; written in whole
    seconds), attrs (a mapping or (key, value) pairs), options ((tag, key,
    value) records, key and value may be None, written as tag lines before
    the #EXTINF line) and group: a group that is not None is the entry's
    group-title attribute (replacing the one attrs give). Other fields are
    what a parse derives (line, url, http, ...) and are not written.
    `header` gives the attributes of the #EXTM3U line. `format` is "m3u" or
    "streaming-list"; `bom` and `crlf` as for Result.to_text().

    Raises TypeError for entries and fields of the wrong type, ValueError
    for values a playlist line cannot hold (a line break, more than 64
    attributes, a duration past 2147483 s, text that is not UTF-8) and
    KavloError (ERR_FORMAT) for a format the entries cannot be written in."""
    entries = [_writable(entry, i) for i, entry in enumerate(items)]
    code = _format_code(format)
    header = _flatten(header)
    if len(header) > 2 * _MAX_ATTRS:
        raise ValueError(f"{len(header) // 2} header attributes, more than an #EXTM3U line holds ({_MAX_ATTRS})")
    if len(entries) > 0x7FFFFFFF:
        raise ValueError("too many items for one playlist")
    b = _native.new()
    failed = b.add(True, None, None, -1, header, ())
    if failed:
        _refused(*failed, "header", header)
    for i, item in enumerate(entries):
        _add(b, i, item)
    out = b.write(int(code), _flags(bom, crlf))
    if isinstance(out, int):
        raise KavloError(out, f"entries cannot be written as {code}")
    return out


def detect(data, encoding=None):
    """The format of `data` (decoded with `encoding` as parse() does),
    without parsing it."""
    data, enc = _bytes(data, encoding)
    return Format(_native.detect(data, enc))
