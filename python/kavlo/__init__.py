"""Python interface to the kavlo playlist-parsing library.

    import kavlo
    result = kavlo.parse_file("list.m3u")
    for item in result.items:
        print(item.location, item.title, item.attrs.get("group-title"))

The native part (kavlo._kavlo) is built against libkavlo and finds it where
the installation put it: bundled next to this module, or at the prefix the
library was installed to. The environment variable KAVLO_LIBRARY, when set,
names a library file that is loaded in its place.

A failed parse raises KavloError carrying the library's status code and
message. Content problems that do not fail a parse are warnings
(Result.warnings). The library keeps one result store and no locks; this
module serialises its calls into the library, so it can be used from
several threads. Every result is a copy and stays valid after later parses.
"""

from __future__ import annotations

import enum
import json
import operator
import os
import stat
from typing import Dict, Iterable, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union


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

__version__: str = _native.VERSION

__all__ = [
    "Attr", "CueSheet", "Format", "Index", "Item", "KavloError", "Option", "Result", "Status", "Track",
    "__version__", "detect", "parse", "parse_file",
]


class Format(enum.IntEnum):
    """Format codes. str() gives the library's name ("m3u", "cue", ...)."""

    AUTO = -1
    M3U = 0
    M3U8_HLS = 1
    STREAMING_LIST = 2
    CUE = 3
    UNKNOWN = 4

    def __str__(self) -> str:
        return _native.format_name(int(self))

    def __format__(self, fmt: str) -> str:
        return format(str(self), fmt)

    @classmethod
    def from_name(cls, name: str) -> "Format":
        """The format of a name: the library's ("streaming-list") or the
        member's ("STREAMING_LIST"), in any letter case."""
        folded = name.strip().lower().replace("_", "-")
        for member in cls:
            if str(member) == folded:
                return member
        raise ValueError(f"unknown format {name!r}")


class Status(enum.IntEnum):
    OK = 0
    ERR_DECODE = 1
    ERR_FORMAT = 3
    ERR_INVALID = 4
    ERR_IO = 5
    ERR_NOMEM = 6


class KavloError(Exception):
    """A parse that failed: `status` is the library's status code, `message`
    its error text ("" for ERR_NOMEM)."""

    def __init__(self, status: int, message: str):
        self.status = status
        self.message = message
        try:
            name = Status(status).name
        except ValueError:
            name = str(status)
        super().__init__(f"{name}: {message}" if message else name)


class Attr(NamedTuple):
    """An #EXTINF attribute, or a REM line of a CUE sheet."""

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


_FOLD = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


def _pairs(flat: Tuple[str, ...]) -> List[Attr]:
    return [Attr(flat[i], flat[i + 1]) for i in range(0, len(flat) - 1, 2)]


def _flatten(pairs: Union[Mapping[str, str], Iterable[Tuple[str, str]], None]) -> Tuple[str, ...]:
    if pairs is None:
        return ()
    if isinstance(pairs, Mapping):
        pairs = pairs.items()
    return tuple(x for pair in pairs for x in pair)


try:  # the C descriptor behind namedtuple fields
    from collections import _tuplegetter  # type: ignore[attr-defined]
except ImportError:  # pragma: no cover - other interpreters
    _tuplegetter = None


def _field(i: int, doc: str) -> property:
    if _tuplegetter is not None:
        return _tuplegetter(i, doc)
    return property(operator.itemgetter(i), doc=doc)


class Item(tuple):
    """One playlist entry. Immutable; compares by value."""

    __slots__ = ()

    # Layout: location, title, duration_ms, release_date, the attributes as a
    # flat (key, value, ...) tuple, then where the members of the library's
    # full document come from: the result's snapshot and the item's index
    # (read on first use), or a tuple (line, options, url, headers, group).

    def __new__(cls, location: str, title: str = "", duration_ms: int = -1, release_date: int = 0,
                attrs: Union[Mapping[str, str], Iterable[Tuple[str, str]], None] = None, line: int = 0,
                options: Iterable[Option] = (), url: Optional[str] = None,
                headers: Union[Mapping[str, str], Iterable[Tuple[str, str]], None] = None,
                group: Optional[str] = None) -> "Item":
        more = (line, tuple(options), url, None if headers is None else _flatten(headers), group)
        return tuple.__new__(cls, (location, title, duration_ms, release_date, _flatten(attrs), more, None))

    location: str = _field(0, "path or URL")  # type: ignore[assignment]
    title: str = _field(1, "title, \"\" when the playlist gave none")  # type: ignore[assignment]
    duration_ms: int = _field(2, "duration in milliseconds, -1 when unknown")  # type: ignore[assignment]
    release_date: int = _field(3, "release date of an IMDb date playlist entry, else 0")  # type: ignore[assignment]

    def _more(self) -> tuple:
        src = self[5]
        return src if self[6] is None else _native.item_extra(src, self[6])

    @property
    def line(self) -> int:
        """1-based line of the location in the decoded text (0: unknown)."""
        return self._more()[0]

    @property
    def options(self) -> Tuple[Option, ...]:
        """Tag lines kept for this entry (#EXTVLCOPT, #KODIPROP, ...), in order."""
        return self._more()[1]

    @property
    def url(self) -> Optional[str]:
        """The location before its |Key=Value headers, when it has them."""
        return self._more()[2]

    @property
    def headers(self) -> Dict[str, str]:
        """The Key=Value pairs after | in the location (first value wins)."""
        flat = self._more()[3]
        return _native.attrs_dict(flat) if flat else {}

    @property
    def group(self) -> Optional[str]:
        """The #genre# group of a streaming-list entry."""
        return self._more()[4]

    @property
    def attrs(self) -> Dict[str, str]:
        """The #EXTINF attributes as a mapping; for a key written twice the
        first value wins."""
        return _native.attrs_dict(self[4])

    @property
    def attr_list(self) -> List[Attr]:
        """Every attribute in source order, repeated keys included."""
        return _pairs(self[4])

    def attr(self, key: str) -> Optional[str]:
        """Value of the first attribute whose key equals `key` with ASCII
        letters folded; None when there is none."""
        flat = self[4]
        folded = key.translate(_FOLD)
        for i in range(0, len(flat), 2):
            if flat[i] == key or flat[i].translate(_FOLD) == folded:
                return flat[i + 1]
        return None

    def _values(self) -> tuple:
        return tuple(self[:5]) + self._more()

    def __eq__(self, other: object) -> bool:
        if isinstance(other, Item):
            return self._values() == other._values()
        return NotImplemented

    def __ne__(self, other: object) -> bool:
        eq = self.__eq__(other)
        return eq if eq is NotImplemented else not eq

    def __hash__(self) -> int:
        return hash(self[:5])

    def __repr__(self) -> str:
        line, options, url, headers, group = self._more()
        parts = [f"location={self.location!r}", f"title={self.title!r}", f"duration_ms={self.duration_ms}"]
        if self.release_date:
            parts.append(f"release_date={self.release_date}")
        if self[4]:
            parts.append(f"attrs={self.attrs!r}")
        if line:
            parts.append(f"line={line}")
        if options:
            parts.append(f"options={options!r}")
        if url:
            parts.append(f"url={url!r}")
        if headers:
            parts.append(f"headers={self.headers!r}")
        if group:
            parts.append(f"group={group!r}")
        return f"Item({', '.join(parts)})"

    def __reduce__(self):
        v = self._values()
        return (_rebuild, (type(self), v[:5] + (v[5:], None)))


class Track(tuple):
    """One CUE track. Fields the sheet did not set are None."""

    __slots__ = ()

    def __new__(cls, number: int, datatype: Optional[str] = None, title: Optional[str] = None,
                performer: Optional[str] = None, songwriter: Optional[str] = None, isrc: Optional[str] = None,
                file: Optional[str] = None, flags: Optional[str] = None, indices: Iterable[Index] = (),
                pregap: Optional[int] = None, postgap: Optional[int] = None, rem: Iterable[Attr] = ()) -> "Track":
        return tuple.__new__(cls, (number, datatype, title, performer, songwriter, isrc, file, flags,
                                   list(indices), pregap, postgap, tuple(rem)))

    number: int = _field(0, "the number of the TRACK line")  # type: ignore[assignment]
    datatype: Optional[str] = _field(1, "AUDIO, MODE1/2352, ...")  # type: ignore[assignment]
    title: Optional[str] = _field(2, "TITLE")  # type: ignore[assignment]
    performer: Optional[str] = _field(3, "PERFORMER")  # type: ignore[assignment]
    songwriter: Optional[str] = _field(4, "SONGWRITER")  # type: ignore[assignment]
    isrc: Optional[str] = _field(5, "ISRC")  # type: ignore[assignment]
    file: Optional[str] = _field(6, "the FILE in force when the track opened")  # type: ignore[assignment]
    flags: Optional[str] = _field(7, "FLAGS as written")  # type: ignore[assignment]
    indices: List[Index] = _field(8, "INDEX points in source order")  # type: ignore[assignment]
    pregap: Optional[int] = _field(9, "PREGAP in frames")  # type: ignore[assignment]
    postgap: Optional[int] = _field(10, "POSTGAP in frames")  # type: ignore[assignment]
    rem: Tuple[Attr, ...] = _field(11, "the track's REM lines")  # type: ignore[assignment]

    def __repr__(self) -> str:
        names = ("number", "datatype", "title", "performer", "songwriter", "isrc", "file", "flags", "indices",
                 "pregap", "postgap", "rem")
        shown = [f"{n}={v!r}" for n, v in zip(names, self) if v is not None and (n in ("number", "indices") or v)]
        return f"Track({', '.join(shown)})"

    def __reduce__(self):
        return (_rebuild, (type(self), tuple(self)))


def _rebuild(cls, fields):
    return tuple.__new__(cls, fields)


class CueSheet(NamedTuple):
    """The sheet-level fields of a CUE sheet (None when not set)."""

    title: Optional[str] = None
    performer: Optional[str] = None
    songwriter: Optional[str] = None
    catalog: Optional[str] = None
    cdtextfile: Optional[str] = None
    rem: Tuple[Attr, ...] = ()


_native.bind(Item, Track, Index, Option, Attr)


class Result:
    """The outcome of one parse, copied out of the library."""

    __slots__ = ("format", "items", "imdb_date_playlist", "cue", "tracks", "warnings", "encoding", "_snap",
                 "_json")

    format: Format
    items: Sequence[Item]
    imdb_date_playlist: bool
    cue: CueSheet
    tracks: Sequence[Track]
    warnings: List[str]
    #: With encoding="auto": the encoding the text was read in ("UTF-8",
    #: "WINDOWS-1251", "SHIFT_JIS", ...); None otherwise.
    encoding: Optional[str]

    def to_json(self, full: bool = False) -> str:
        """The library's JSON document of this result; with `full`, the full
        document (every member the library can tell). Made when first asked
        for: by the library while this is still its last result, afterwards
        from this copy, in the same form."""
        cached = self._json[full]
        if cached is None:
            cached = _native.result_json(self._snap, full)
            if cached is None:
                cached = _render_json(self, full)
            self._json[full] = cached
        return cached

    @property
    def header(self) -> Dict[str, str]:
        """The attributes of the #EXTM3U line (first value of a key wins)."""
        return _native.attrs_dict(_native.extras(self._snap)[0])

    @property
    def json_text(self) -> str:
        return self.to_json()

    def __repr__(self) -> str:
        parts = [f"format={self.format}", f"items={len(self.items)}"]
        if self.format == Format.CUE:
            parts.append(f"tracks={len(self.tracks)}")
        if self.imdb_date_playlist:
            parts.append("imdb_date_playlist=True")
        parts.append(f"warnings={len(self.warnings)}")
        return f"<kavlo.Result {' '.join(parts)}>"


def _format_code(format: Union[Format, int, str, None]) -> int:
    if format is None:
        return Format.AUTO
    if isinstance(format, str):
        return Format.from_name(format)
    return Format(format)


def _encoding_arg(encoding: Optional[str]) -> Optional[str]:
    """The encoding name handed to the library; None for detection."""
    if encoding is None:
        return None
    if not isinstance(encoding, str):
        raise TypeError(f"encoding must be a str, not {type(encoding).__name__}")
    return encoding


def _result(outcome) -> Result:
    status, payload = outcome
    if status != Status.OK:
        raise KavloError(status, payload)
    fmt, imdb, items, sheet, tracks, warnings, snap = payload
    r = Result()
    r.format = Format(fmt) if fmt in Format._value2member_map_ else Format.UNKNOWN
    r.items = items
    r.imdb_date_playlist = imdb
    r.cue = CueSheet(*sheet, rem=_native.extras(snap)[1] if fmt == Format.CUE else ())
    r.tracks = tracks
    r.warnings = warnings
    r.encoding = None
    r._snap = snap
    r._json = [None, None]
    return r


def _is_auto(encoding: Optional[str]) -> bool:
    return encoding is not None and encoding.lower() == "auto"


def _parse_auto(data, code: int) -> Result:
    outcome, used = _native.parse_auto(data, code)
    r = _result(outcome)
    r.encoding = used or None
    return r


def parse(data: Union[bytes, bytearray, memoryview, str], format: Union[Format, int, str, None] = None,
          encoding: Optional[str] = None) -> Result:
    """Parses a playlist held in memory.

    `data` is bytes-like (bytes, bytearray, memoryview, ...) or a str, which
    is text already: naming an encoding for it raises ValueError. `format`
    is a Format, its name ("m3u", "streaming-list", "cue") or None for
    detection. `encoding` names the encoding of the bytes (None: byte-order
    mark, UTF-8, then the fallback chain). "auto": text with a byte-order
    mark or in UTF-8 as with None, other text in the encoding that uchardet
    finds (the library's chain when it finds none that converts the bytes);
    Result.encoding then tells which. Raises KavloError when the parse
    fails."""
    if isinstance(data, str):
        if encoding is not None:
            raise ValueError("encoding given for a str; pass bytes to name their encoding")
        data = data.encode("utf-8", "surrogateescape")
    elif isinstance(data, memoryview) and not data.c_contiguous:
        data = data.tobytes()
    code = _format_code(format)
    enc = _encoding_arg(encoding)
    if _is_auto(enc):
        return _parse_auto(data, code)
    return _result(_native.parse(data, code, enc))


def _read_stream(path: bytes) -> bytes:
    try:
        with open(path, "rb", buffering=0) as f:
            return f.read()
    except OSError as e:
        raise KavloError(Status.ERR_IO, f"io: {e.strerror or e}") from None


def parse_file(path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"],
               encoding: Optional[str] = None) -> Result:
    """Reads a file whole and parses it with automatic format detection.
    A path that is not a regular file (a pipe, a FIFO, /dev/stdin) is read
    as a stream. `encoding` as for parse(), "auto" included. Raises
    KavloError when it fails (ERR_IO for a file that cannot be read)."""
    fspath = os.fsencode(path)
    enc = _encoding_arg(encoding)
    if _is_auto(enc):
        return _parse_auto(_read_stream(fspath), Format.AUTO)
    try:
        mode = os.stat(fspath).st_mode
    except (OSError, ValueError):
        mode = None  # the library reports it
    if mode is not None and not stat.S_ISREG(mode) and not stat.S_ISDIR(mode):
        return _result(_native.parse(_read_stream(fspath), Format.AUTO, enc))
    return _result(_native.parse_file(fspath, enc))


def detect(data: Union[bytes, bytearray, memoryview, str]) -> Format:
    """The format of `data`, without parsing it."""
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    elif isinstance(data, memoryview) and not data.c_contiguous:
        data = data.tobytes()
    return Format(_native.detect(data))


# ---- the JSON document of a result the library no longer holds -------------

def _js(s: str) -> str:
    return json.dumps(s, ensure_ascii=False)


def _js_pairs(flat: Tuple[str, ...]) -> str:
    return "{" + ",".join(f"{_js(flat[i])}:{_js(flat[i + 1])}" for i in range(0, len(flat) - 1, 2)) + "}"


def _js_records(recs) -> str:
    return "[" + ",".join("{" + ",".join(f"{_js(n)}:{_js(v)}" for n, v in zip(rec._fields, rec)) + "}"
                          for rec in recs) + "]"


def _render_json(r: Result, full: bool = False) -> str:
    """The document the library writes for `r` (same members, order and
    escapes); "{}" when a string holds bytes that are not UTF-8, as the
    library's writer refuses those."""
    try:
        out = [f'{{"format":{_js(str(r.format))},"item_count":{len(r.items)},'
               f'"imdb_date_playlist":{"true" if r.imdb_date_playlist else "false"},"items":[']
        for n, item in enumerate(r.items):
            part = [f'{{"title":{_js(item.title)},"location":{_js(item.location)},"duration_ms":{item.duration_ms}']
            if item.release_date:
                part.append(f',"release_date":{item.release_date}')
            if item[4]:
                part.append(',"attrs":' + _js_pairs(item[4]))
            if full:
                line, options, url, headers, group = item._more()
                part.append(f',"line":{line}')
                if options:
                    part.append(',"options":' + _js_records(options))
                if url:
                    part.append(f',"url":{_js(url)}')
                if headers:
                    part.append(',"headers":' + _js_pairs(headers))
                if group:
                    part.append(f',"group":{_js(group)}')
            part.append("}")
            out.append(("," if n else "") + "".join(part))
        out.append("]")
        if r.format == Format.CUE:
            cue = ['"cue":{']
            if r.cue.title is not None:
                cue.append(f'"title":{_js(r.cue.title)},')
            if r.cue.performer is not None:
                cue.append(f'"performer":{_js(r.cue.performer)},')
            tracks = []
            for t in r.tracks:
                s = f'{{"number":{t.number}'
                if t.title is not None:
                    s += f',"title":{_js(t.title)}'
                if t.file is not None:
                    s += f',"file":{_js(t.file)}'
                s += ',"indices":[' + ",".join(f'{{"n":{x.number},"frames":{x.frames},"ms":{x.ms}}}'
                                               for x in t.indices) + "]"
                if full:
                    for name in ("performer", "songwriter", "isrc", "flags", "datatype"):
                        if getattr(t, name):
                            s += f',"{name}":{_js(getattr(t, name))}'
                    for name in ("pregap", "postgap"):
                        if getattr(t, name) is not None:
                            s += f',"{name}":{getattr(t, name)}'
                    if t.rem:
                        s += ',"rem":' + _js_records(t.rem)
                tracks.append(s + "}")
            cue.append('"tracks":[' + ",".join(tracks) + "]")
            if full:
                for name in ("songwriter", "catalog", "cdtextfile"):
                    if getattr(r.cue, name):
                        cue.append(f',"{name}":{_js(getattr(r.cue, name))}')
                if r.cue.rem:
                    cue.append(',"rem":' + _js_records(r.cue.rem))
            out.append("," + "".join(cue) + "}")
        if r.warnings:
            out.append(',"warnings":[' + ",".join(_js(w) for w in r.warnings) + "]")
        if full:
            out.append(f',"version":{_js(_native.library_version())}')
            header = _native.extras(r._snap)[0]
            if header:
                out.append(',"header":' + _js_pairs(header))
        out.append("}")
        text = "".join(out)
        text.encode("utf-8")  # lone surrogates: bytes that were never UTF-8
        return text
    except UnicodeEncodeError:
        return "{}"
