"""One level (or several) of the 2-D CDF 9/7 wavelet transform of 8-bit
grayscale pictures (bitmaps, PGM, PPM, PNG, JPEG, TIFF), with numpy arrays in
and out: the tool's output bytes, float32 coefficients with their exact
synthesis, and (``wavelet="5/3"``) the reversible 5/3 in int32 coefficients,
lossless.

Every function takes any 2-D array of the dtypes it names (strided views
included) and never modifies it; other dtypes raise TypeError and other ranks
ValueError. The interpreter lock is released while a picture is read, written
or transformed, so Python threads transform at once. Failures raise the
exceptions below; ``str(e)`` is the library's message. Pictures and exceptions
pickle whole, so they pass between processes (a Dask worker and its client).
"""

import operator as _operator
import os as _os

import numpy as _np


class Error(Exception):
    """Base of every failure the library reports."""


class MalformedError(Error, ValueError):
    """The input is not a well-formed picture."""


class UnsupportedError(Error, ValueError):
    """A well-formed input (or request) this library does not handle."""


class TruncatedError(Error, ValueError):
    """The input ends before its own header or pixel data."""


class FileError(Error, OSError):
    """A file cannot be opened, created, read or written.

    ``errno`` and ``filename`` are set where known; ``str(e)`` is the
    library's message alone.
    """

    def __str__(self):
        return str(self.args[0]) if self.args else ""

    def __reduce__(self):
        # OSError's own reduction keeps the arguments (the message alone) and
        # the instance dict, not errno and the file names the extension sets
        # afterwards: an unpickled copy, say from another process, would have
        # them None. They are kept as state, set again on unpickling.
        state = dict(getattr(self, "__dict__", None) or {})
        for name in ("errno", "strerror", "filename", "filename2"):
            state[name] = getattr(self, name)
        return type(self), self.args, state


class OutOfMemoryError(Error, MemoryError):
    """Memory runs out; ``str(e)`` names the operation, as the tool does
    ("Error: pngLoad(), Out of memory!")."""


from . import _dwt97  # noqa: E402

_dwt97._register_errors(MalformedError, UnsupportedError, TruncatedError, FileError,
                        OutOfMemoryError)

__version__ = _dwt97.__version__

__all__ = [
    "__version__", "Picture", "load", "parse", "save", "forward", "forward_rows",
    "forward_columns", "inverse_columns", "inverse_rows", "analyze", "synthesize", "subbands",
    "view", "most_levels", "Error", "MalformedError", "UnsupportedError", "TruncatedError",
    "FileError", "OutOfMemoryError",
]

_INT_MAX = 2**31 - 1


def _count(value, name, least):
    # A count the library takes as a C int: an integer (numpy's too), not a
    # bool, from `least` to 2^31 - 1.
    if isinstance(value, bool):
        raise TypeError("%s must be an int, not bool" % name)
    try:
        value = _operator.index(value)
    except TypeError:
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__)) from None
    if not least <= value <= _INT_MAX:
        raise ValueError("%s must be %d to %d, got %d" % (name, least, _INT_MAX, value))
    return value


_WAVELETS = ("9/7", "5/3")


def _reversible(wavelet):
    # Whether `wavelet` names the reversible 5/3; anything but the two names
    # is refused with a short message, never an array's contents.
    if isinstance(wavelet, str) and wavelet in _WAVELETS:
        return wavelet == "5/3"
    shown = repr(wavelet[:20]) if isinstance(wavelet, str) else type(wavelet).__name__
    raise ValueError("wavelet must be '9/7' or '5/3', got %s" % shown)


def _path_bytes(path):
    # The library takes a C string: a name with a null byte in it would name
    # another file, so it is refused as open() refuses it.
    name = _os.fsencode(path)
    if b"\0" in name:
        raise ValueError("embedded null byte")
    return name


class Picture:
    """A picture as the tool reads it.

    ``pixels``: uint8 array (height, width), rows in the order the tool
    transforms them (for an ordinary bottom-up bitmap, the bottom row first).
    ``bottom_up``: whether row 0 of ``pixels`` is the bottom of the picture.
    ``header``: dict of the parsed header fields (``format`` says which).
    """

    __slots__ = ("pixels", "bottom_up", "header")

    def __init__(self, pixels, bottom_up, header):
        self.pixels = pixels
        self.bottom_up = bool(bottom_up)
        self.header = header

    def __reduce__(self):
        # With __slots__ and no __dict__, pickle's protocols 0 and 1 cannot
        # copy a Picture by themselves; its three fields rebuild it.
        return type(self), (self.pixels, self.bottom_up, self.header)

    def upright(self):
        """A new array of the pixels with the top row first."""
        return (self.pixels[::-1] if self.bottom_up else self.pixels).copy()

    def __repr__(self):
        height, width = self.pixels.shape
        return "<dwt97.Picture %dx%d %s>" % (
            width, height, "bottom-up" if self.bottom_up else "top-down")


def load(path):
    """Reads the picture file at ``path`` (str, bytes or os.PathLike)."""
    return Picture(*_dwt97.load(_path_bytes(path), _os.fspath(path)))


def parse(data):
    """Reads a picture from ``data``, the bytes of a whole file (any
    contiguous buffer)."""
    return Picture(*_dwt97.parse(data))


def forward(a, levels=1, threads=0, out=None):
    """The tool's output bytes for the rows of ``a``: ``levels`` levels of the
    2-D transform, each after the first on the low-low band of the one
    before, on up to ``threads`` threads (0: every core). Returns a new array
    of the same shape, or ``out`` filled: a C-contiguous writeable uint8
    array of that shape sharing no memory with ``a`` (reusing one saves
    allocating and first touching the result's memory). More levels than the
    shape allows raise UnsupportedError; an empty array, a count out of range
    ValueError; a count that is no int (or a bool) TypeError."""
    return _dwt97.forward(a, _count(levels, "levels", 1), _count(threads, "threads", 0), out)


def forward_rows(a):
    """The row pass into a zero-filled array of the same shape: low band in
    the first width//2 columns, high band in the next width//2."""
    return _dwt97.forward_rows(a)


def forward_columns(a):
    """The column pass into a zero-filled array of the same shape: low band
    in the first height//2 rows, high band in the next height//2."""
    return _dwt97.forward_columns(a)


def inverse_columns(a):
    """Synthesis along columns of an array of even sides holding the low band
    in its top half and the high band in its bottom half. Odd sides raise
    ValueError."""
    return _dwt97.inverse_columns(a)


def inverse_rows(a):
    """Synthesis along rows of an array of even sides holding the low band in
    its left half and the high band in its right half; the outputs are
    two's-complement bytes. Odd sides raise ValueError."""
    return _dwt97.inverse_rows(a)


def save(path, a, format=None, bottom_up=False):
    """Writes ``a`` to ``path`` as ``format`` ("raw", "pgm" or "png"; by default by
    the name: ".pgm" is PGM, ".png" PNG, anything else raw). The file
    replaces ``path`` only once complete; a device or a pipe (/dev/stdout) is
    written in place. With ``bottom_up``, a picture format shows row 0 at the
    bottom. An empty array raises ValueError."""
    if format is None:
        name = _os.fsdecode(_os.fspath(path)).lower()
        format = "pgm" if name.endswith(".pgm") else "png" if name.endswith(".png") else "raw"
    if not isinstance(format, str):
        raise TypeError("format must be a str or None")
    _dwt97.save(_path_bytes(path), a, format.lower(), bool(bottom_up), _os.fspath(path))


def analyze(a, levels=1, threads=0, *, wavelet="9/7"):
    """The float32 coefficients of ``levels`` levels of the analysis of ``a``
    (uint8 or float32), on up to ``threads`` threads (0: every core), as a new
    array of its shape. Each line becomes its low band (the first ceil(n/2)
    entries; the low-pass sums to 1) then its high band (gain 1 at the
    Nyquist frequency), rows then columns; each level after the first works
    on the low-low band of the one before (``subbands`` splits them). 0
    levels give the samples as float32; more than ``most_levels(a.shape)``
    raise UnsupportedError, fewer than 0 or an empty array ValueError.

    With ``wavelet="5/3"`` (a keyword; any name but "9/7" and "5/3" raises
    ValueError), the int32 coefficients of the reversible 5/3 of ``a`` (uint8
    or int32), laid out alike; 0 levels give the samples as int32. int32
    samples whose coefficients could leave int32 at these levels raise
    UnsupportedError (samples within +-2^16 fit 11 levels, +-2^20 7, +-2^24
    4); uint8 samples fit at every level count."""
    reversible = _reversible(wavelet)
    return _dwt97.analyze(a, _count(levels, "levels", 0), _count(threads, "threads", 0),
                          reversible)


def synthesize(c, levels=1, threads=0, *, wavelet="9/7"):
    """The float32 samples that the coefficients ``c`` (float32, as
    ``analyze`` lays them out) of ``levels`` levels stand for, as a new array:
    ``np.rint(synthesize(analyze(a, n), n))`` gives a uint8 picture back
    exactly. With ``wavelet="5/3"``, the int32 samples of int32 coefficients:
    ``synthesize(analyze(a, n, wavelet="5/3"), n, wavelet="5/3")`` is ``a``
    itself; coefficients no analysis gave may synthesize beyond int32, which
    wraps modulo 2^32 and is never refused. Refusals as ``analyze``."""
    reversible = _reversible(wavelet)
    return _dwt97.synthesize(c, _count(levels, "levels", 0), _count(threads, "threads", 0),
                             reversible)


def view(c, levels, *, wavelet="9/7"):
    """The coefficients ``c`` (float32; int32 with ``wavelet="5/3"``) of
    ``levels`` levels as a uint8 picture to look at: each detail band as
    128 + 127 v / max|v| of that band, the last low-low band stretched to
    0 .. 255. Refusals as ``analyze``."""
    reversible = _reversible(wavelet)
    return _dwt97.view(c, _count(levels, "levels", 0), reversible)


def most_levels(shape):
    """The most levels ``analyze`` allows for an array of ``shape`` (height,
    width): the halvings, rounded up, until both sides are 1 (0 for 1 x 1)."""
    height, width = (_operator.index(side) for side in shape)
    return _dwt97.most_levels(height, width)


def subbands(c, levels, *, wavelet="9/7"):
    """Views into the coefficients ``c`` (any 2-D numpy array laid out as
    ``analyze`` lays them out, for either wavelet: both lay out their bands
    alike), no copies, in the order of PyWavelets' ``wavedec2``:
    ``[cA_n, (cH_n, cV_n, cD_n), ..., (cH_1, cV_1, cD_1)]``.
    Of a level's h x w band, with lh = ceil(h/2) and lw = ceil(w/2): cA is
    [:lh, :lw], cH [lh:h, :lw] (high along the columns), cV [:lh, lw:w] and
    cD [lh:h, lw:w]. Refusals as ``analyze``; something other than a numpy
    array raises TypeError."""
    _reversible(wavelet)
    if not isinstance(c, _np.ndarray):
        raise TypeError("expected a numpy array, got %s" % type(c).__name__)
    if c.ndim != 2:
        raise ValueError("expected a 2-D array, got %d dimensions" % c.ndim)
    height, width = c.shape
    if c.size == 0:
        raise ValueError("cannot split an empty array (%d x %d)" % (height, width))
    levels = _count(levels, "levels", 0)
    _dwt97.check_levels(height, width, levels, "subbands")
    details = []
    for _ in range(levels):
        low_height, low_width = (height + 1) // 2, (width + 1) // 2
        details.append((c[low_height:height, :low_width], c[:low_height, low_width:width],
                        c[low_height:height, low_width:width]))
        height, width = low_height, low_width
    return [c[:height, :width]] + details[::-1]
