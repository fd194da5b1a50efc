"""The transforms of the package against the tool and against each other:
levels, passes, views, refusals of bad arrays and counts, memory running out
and caller's output arrays; the coefficients' exact round trip, their bands
and their picture, for the 9/7 and the reversible 5/3."""
import functools
import subprocess

import numpy as np
import pytest

import dwt97
from conftest import make_bitmap, pickled


def run_tool(tool, bmp, out, *options):
    subprocess.run([tool, "--no-pause", "-q", *options, str(bmp), str(out)], check=True,
                   stdin=subprocess.DEVNULL)
    return out.read_bytes()


# Odd sides, one-sample sides and a picture wider than the fused transform's
# chunks: the shapes where the edges and the ring differ.
TOOL_SHAPES = [(1, 1), (1, 9), (9, 1), (7, 2), (5, 3), (33, 17), (64, 63), (130, 257)]


@pytest.mark.parametrize("height,width", TOOL_SHAPES)
@pytest.mark.parametrize("top_down", [False, True])
def test_forward_is_the_tools_output(tool, tmp_path, rng, height, width, top_down):
    pixels = rng.integers(0, 256, (height, width), dtype=np.uint8)
    bmp = tmp_path / "in.bmp"
    bmp.write_bytes(make_bitmap(pixels, top_down))
    picture = dwt97.load(bmp)
    assert picture.bottom_up is (not top_down)
    np.testing.assert_array_equal(picture.pixels, pixels)
    result = dwt97.forward(picture.pixels)
    np.testing.assert_array_equal(picture.pixels, pixels)  # read, never written
    assert run_tool(tool, bmp, tmp_path / "out.dat") == result.tobytes()
    # The PGM: the same bytes, shown as the tool shows them.
    dwt97.save(tmp_path / "ours.pgm", result, bottom_up=picture.bottom_up)
    assert run_tool(tool, bmp, tmp_path / "out.pgm") == (tmp_path / "ours.pgm").read_bytes()


@pytest.mark.parametrize("levels", [2, 4])
def test_levels_are_the_tools_output(tool, tmp_path, rng, levels):
    pixels = rng.integers(0, 256, (75, 90), dtype=np.uint8)
    bmp = tmp_path / "in.bmp"
    bmp.write_bytes(make_bitmap(pixels))
    expected = run_tool(tool, bmp, tmp_path / "out.dat", "--levels=%d" % levels)
    # The transform reads the rows where they lie: of the array itself, read
    # only, and of rows apart in a wider one; none is written.
    pixels.setflags(write=False)
    wider = np.zeros((75, 101), np.uint8)
    wider[:, 7:97] = pixels
    before = wider.copy()
    for threads in (1, 3):
        assert dwt97.forward(pixels, levels, threads).tobytes() == expected
        assert dwt97.forward(wider[:, 7:97], levels, threads).tobytes() == expected
        out = np.full_like(pixels, 7)
        assert dwt97.forward(wider[:, 7:97], levels, threads, out=out).tobytes() == expected
    np.testing.assert_array_equal(wider, before)


def test_forward_is_its_two_passes(rng):
    # The fused transform keeps a ring of 15 float rows of the width rounded
    # up to 16, plus 16, for each thread; where one ring would pass 64 MiB
    # (widths of 1,118,465 and more) it runs the two passes through a scratch
    # plane instead. The last two shapes lie either side of that width, with
    # enough rows that the result's row order is not the input's.
    for shape in [(2, 2), (9, 16), (40, 31), (257, 100), (7, 1_118_464), (7, 1_118_466)]:
        a = rng.integers(0, 256, shape, dtype=np.uint8)
        rows = dwt97.forward_rows(a)
        if shape[1] % 2:
            assert not rows[:, -1].any()  # the row pass leaves the odd column zero
        np.testing.assert_array_equal(dwt97.forward(a), dwt97.forward_columns(rows))


def views(base):
    yield base[::-1]                        # negative row stride
    yield base[:, ::-1]                     # negative column stride
    yield base[1::3, 2::2]                  # both strided
    yield base.T                            # Fortran order
    yield np.broadcast_to(base[5], (40, base.shape[1]))  # zero row stride
    yield base[:, 1:5:2]                    # two columns, strided
    yield base[::-2, 3:]                    # negative row stride, rows apart
    yield base[7:8, ::-3]                   # one row, any stride
    yield base[:, 9:10]                     # one column
    if base.itemsize > 1:
        yield base.astype(base.dtype.newbyteorder())  # the other byte order
        # Misaligned: every sample one byte past a multiple of its size.
        raw = np.zeros(base.nbytes + 1, np.uint8)[1:].view(base.dtype).reshape(base.shape)
        raw[...] = base
        assert not raw.flags.aligned
        yield raw
        yield raw[::-1, ::2]


# Each function that reads one array as a picture or as coefficients, called
# on it alone, and the dtype it reads.
ONE_ARRAY = {
    "forward": (dwt97.forward, np.uint8),
    "forward_rows": (dwt97.forward_rows, np.uint8),
    "forward_columns": (dwt97.forward_columns, np.uint8),
    "inverse_columns": (dwt97.inverse_columns, np.uint8),
    "inverse_rows": (dwt97.inverse_rows, np.uint8),
    "analyze": (lambda a: dwt97.analyze(a, 2, 2), np.uint8),
    "analyze float32": (lambda a: dwt97.analyze(a, 2, 2), np.float32),
    "synthesize": (lambda c: dwt97.synthesize(c, 2, 3), np.float32),
    "view": (lambda c: dwt97.view(c, 2), np.float32),
    "analyze 5/3": (lambda a: dwt97.analyze(a, 2, 2, wavelet="5/3"), np.uint8),
    "analyze int32 5/3": (lambda a: dwt97.analyze(a, 2, 2, wavelet="5/3"), np.int32),
    "synthesize 5/3": (lambda c: dwt97.synthesize(c, 2, 3, wavelet="5/3"), np.int32),
    "view 5/3": (lambda c: dwt97.view(c, 2, wavelet="5/3"), np.int32),
}


@pytest.mark.parametrize("name", ONE_ARRAY)
def test_views_read_as_their_copies_and_stay_untouched(rng, name):
    function, dtype = ONE_ARRAY[name]
    base = rng.integers(0, 256, (48, 64), dtype=np.uint8)
    if dtype == np.float32:
        base = rng.normal(0, 50, base.shape).astype(np.float32)
    if dtype == np.int32:
        base = rng.integers(-70000, 70000, base.shape, dtype=np.int32)
    before = base.copy()
    for view in views(base):
        view = view[: max(1, view.shape[0] // 2 * 2), : max(1, view.shape[1] // 2 * 2)]
        if name.startswith("inverse") and 1 in view.shape:
            continue
        result = function(view)
        assert result.shape == view.shape
        assert result.dtype == (np.uint8 if name.startswith(("forward", "inverse", "view"))
                                else np.int32 if "5/3" in name else np.float32)
        assert result.flags.c_contiguous and result.flags.writeable
        compact = np.array(view, dtype=view.dtype.newbyteorder("="), order="C")
        np.testing.assert_array_equal(result, function(compact))
    np.testing.assert_array_equal(base, before)


def test_inverse_passes_rebuild_a_constant():
    # A constant low band and a zero high band rebuild the constant.
    bands = np.zeros((4, 6), np.uint8)
    bands[:2, :] = 50
    np.testing.assert_array_equal(dwt97.inverse_columns(bands), np.full((4, 6), 50))
    bands = np.zeros((4, 6), np.uint8)
    bands[:, :3] = 40
    np.testing.assert_array_equal(dwt97.inverse_rows(bands), np.full((4, 6), 40))


@pytest.mark.parametrize("name", ["inverse_columns", "inverse_rows"])
@pytest.mark.parametrize("shape", [(3, 4), (4, 5), (1, 1)])
def test_inverse_passes_refuse_odd_sides(name, shape):
    with pytest.raises(ValueError, match="even"):
        getattr(dwt97, name)(np.zeros(shape, np.uint8))


# The dtypes each function takes, as its refusal names them.
ACCEPTED = {"analyze": "uint8 or float32", "analyze float32": "uint8 or float32",
            "synthesize": "float32", "view": "float32", "analyze 5/3": "uint8 or int32",
            "analyze int32 5/3": "uint8 or int32", "synthesize 5/3": "int32", "view 5/3": "int32"}


@pytest.mark.parametrize("name", ONE_ARRAY)
def test_arrays_of_another_kind_are_refused(name):
    function, dtype = ONE_ARRAY[name]
    accepted = ACCEPTED.get(name, "uint8")
    for other in (np.int8, np.uint16, np.float16, np.float32, np.float64, np.complex64, bool,
                  np.uint8, np.int32, np.uint32, np.int64):
        if np.dtype(other).name not in accepted.split(" or "):
            with pytest.raises(TypeError, match="dtype %s, got" % accepted):
                function(np.zeros((4, 4), other))
    for shape in [(16,), (2, 4, 4), ()]:
        with pytest.raises(ValueError, match="2-D"):
            function(np.zeros(shape, dtype))
    for shape in [(0, 4), (4, 0), (0, 0)]:
        # There is no picture to transform, nor coefficients of one.
        if name == "forward" or name.split()[0] in ("analyze", "synthesize", "view"):
            with pytest.raises(ValueError, match="empty"):
                function(np.zeros(shape, dtype))
        else:
            assert function(np.zeros(shape, dtype)).shape == shape


def test_forward_refuses_bad_counts():
    a = np.zeros((4, 4), np.uint8)
    with pytest.raises(dwt97.UnsupportedError) as caught:
        dwt97.forward(a, levels=3)
    assert str(caught.value) == \
        "Error: dwtForward2dLevels(), Too many levels for the picture (at most 2)!"
    assert isinstance(caught.value, ValueError)
    # Counts out of range or of another type: a short message, never the
    # array's contents.
    big = np.zeros((600, 600), np.uint8)
    for levels, threads, kind in [(0, 0, ValueError), (1, -1, ValueError),
                                  (2**40, 0, ValueError), (1, 2**40, ValueError),
                                  (True, 0, TypeError), (1, False, TypeError),
                                  (1.0, 0, TypeError), ("2", 0, TypeError)]:
        with pytest.raises(kind) as caught:
            dwt97.forward(big, levels=levels, threads=threads)
        assert len(str(caught.value)) < 60 and "array" not in str(caught.value)
    # numpy's integers are counts too.
    np.testing.assert_array_equal(dwt97.forward(a, levels=np.int64(2), threads=np.uint8(1)),
                                  dwt97.forward(a, 2))


@pytest.mark.parametrize("call,dtype,operation", [
    (dwt97.forward, np.uint8, "dwtForward2d"),
    (dwt97.analyze, np.uint8, "dwtAnalyze"),
    (dwt97.analyze, np.float32, "dwtAnalyze"),
    (dwt97.synthesize, np.float32, "dwtSynthesize"),
    (lambda c: dwt97.view(c, 3), np.float32, "dwtRenderView"),
    (lambda a: dwt97.analyze(a, wavelet="5/3"), np.uint8, "dwtAnalyze53"),
    (lambda a: dwt97.analyze(a, wavelet="5/3"), np.int32, "dwtAnalyze53"),
    (lambda c: dwt97.synthesize(c, wavelet="5/3"), np.int32, "dwtSynthesize53"),
    (lambda c: dwt97.view(c, 3, wavelet="5/3"), np.int32, "dwtRenderView"),
])
def test_memory_running_out_raises_memory_error(call, dtype, operation):
    huge = np.broadcast_to(dtype(7), (1 << 22, 1 << 22))  # 16 or 64 TiB, no storage
    with pytest.raises(dwt97.OutOfMemoryError) as caught:
        call(huge)
    for error in (caught.value, *pickled(caught.value)):
        assert type(error) is dwt97.OutOfMemoryError
        assert isinstance(error, MemoryError) and isinstance(error, dwt97.Error)
        assert str(error) == "Error: %s(), Out of memory!" % operation


def test_forward_into_a_callers_array(rng):
    a = rng.integers(0, 256, (20, 30), dtype=np.uint8)
    before = a.copy()
    out = np.full_like(a, 7)
    assert dwt97.forward(a, 2, out=out) is out
    np.testing.assert_array_equal(out, dwt97.forward(a, 2))
    refused = [(out.astype(np.int16), TypeError), (out[:10], ValueError),
               (np.empty((30, 20), np.uint8).T, ValueError), (a, ValueError),
               (np.empty((20, 31), np.uint8), ValueError), (np.empty((20, 29), np.uint8), ValueError),
               (np.frombuffer(bytes(600), np.uint8).reshape(20, 30), ValueError)]
    for target, kind in refused:
        with pytest.raises(kind):
            dwt97.forward(a, out=target)
    np.testing.assert_array_equal(a, before)  # out=a is refused, not done in place
    # Sharing a single byte with the input is sharing: either end.
    base = np.zeros(1199, np.uint8)
    for source, target in ((base[:600], base[599:]), (base[599:], base[:600])):
        with pytest.raises(ValueError, match="share"):
            dwt97.forward(source.reshape(20, 30), out=target.reshape(20, 30))


# The shapes of the tool's table, with sides of 1 and 2 beside one another,
# square, and of primes.
COEFFICIENT_SHAPES = TOOL_SHAPES + [(2, 1), (1, 2), (2, 2), (16, 16), (97, 101)]


@pytest.mark.parametrize("height,width", COEFFICIENT_SHAPES)
def test_synthesis_gives_the_picture_back_at_every_level(rng, height, width):
    a = rng.integers(0, 256, (height, width), dtype=np.uint8)
    most = dwt97.most_levels(a.shape)
    assert 2 ** (most - 1) < max(height, width) <= 2 ** most
    for levels in range(most + 1):
        c = dwt97.analyze(a, levels, threads=1)
        # Bytes or their floats, on any thread count: the same bits.
        for threads in (2, 3):
            np.testing.assert_array_equal(dwt97.analyze(a, levels, threads), c)
        np.testing.assert_array_equal(dwt97.analyze(a.astype(np.float32), levels, 2), c)
        back = dwt97.synthesize(c, levels, threads=1)
        assert back.dtype == np.float32 and back.shape == a.shape
        for threads in (2, 3):
            np.testing.assert_array_equal(dwt97.synthesize(c, levels, threads), back)
        np.testing.assert_array_equal(np.rint(back), a)
    # No levels: the samples themselves, both ways.
    np.testing.assert_array_equal(dwt97.analyze(a, 0), a)
    np.testing.assert_array_equal(dwt97.synthesize(a.astype(np.float32), 0), a)


@pytest.mark.parametrize("height,width", COEFFICIENT_SHAPES)
def test_the_5_3_gives_the_samples_back_exactly(rng, height, width):
    a = rng.integers(0, 256, (height, width), dtype=np.uint8)
    wide = rng.integers(-2**16, 2**16 + 1, (height, width), dtype=np.int32)
    for levels in range(dwt97.most_levels(a.shape) + 1):
        for samples in (a, wide):
            c = dwt97.analyze(samples, levels, threads=1, wavelet="5/3")
            assert c.dtype == np.int32 and c.shape == samples.shape
            back = dwt97.synthesize(c, levels, threads=1, wavelet="5/3")
            assert back.dtype == np.int32
            np.testing.assert_array_equal(back, samples)
            for threads in (2, 3):
                np.testing.assert_array_equal(
                    dwt97.analyze(samples, levels, threads, wavelet="5/3"), c)
                np.testing.assert_array_equal(
                    dwt97.synthesize(c, levels, threads, wavelet="5/3"), back)
        # Bytes and the same values as int32: the same coefficients.
        np.testing.assert_array_equal(dwt97.analyze(a.astype(np.int32), levels, wavelet="5/3"),
                                      dwt97.analyze(a, levels, wavelet="5/3"))
    np.testing.assert_array_equal(dwt97.analyze(a, 0, wavelet="5/3"), a)


# The largest magnitude of int32 samples, a shape whose sides stay 2 or more
# past the levels, and the most levels whose coefficients stay in int32.
FITTING = [(2**16, (2049, 2049), 11), (2**20, (129, 129), 7), (2**24, (129, 129), 4),
           (2**31 - 1, (3, 5), 0)]


@pytest.mark.parametrize("largest,shape,most", FITTING)
def test_the_5_3_refuses_int32_samples_that_could_overflow(rng, largest, shape, most):
    row = rng.integers(-largest, largest + 1, shape[1], dtype=np.int32)
    row[:2] = largest, -largest
    a = np.broadcast_to(row, shape)
    c = dwt97.analyze(a, most, wavelet="5/3")
    np.testing.assert_array_equal(dwt97.synthesize(c, most, wavelet="5/3"), a)
    with pytest.raises(dwt97.UnsupportedError) as caught:
        dwt97.analyze(a, most + 1, wavelet="5/3")
    assert isinstance(caught.value, ValueError)
    assert str(caught.value) == \
        "Error: dwtAnalyze53(), Samples too large for 32-bit coefficients at these levels!"
    # Synthesis refuses nothing for its range: it wraps.
    extremes = np.full((33, 17), 2**31 - 1, np.int32)
    extremes[::2] = -2**31
    assert dwt97.synthesize(extremes, 5, wavelet="5/3").dtype == np.int32


@pytest.mark.parametrize("call", [
    lambda w: dwt97.analyze(np.zeros((4, 4), np.uint8), wavelet=w),
    lambda w: dwt97.synthesize(np.zeros((4, 4), np.int32), wavelet=w),
    lambda w: dwt97.view(np.zeros((4, 4), np.int32), 1, wavelet=w),
    lambda w: dwt97.subbands(np.zeros((4, 4), np.int32), 1, wavelet=w)])
def test_unknown_wavelets_are_refused(call):
    for wavelet in ["5/3 ", "53", "9-7", "", "bior4.4", "x" * 10**5, None, 53, b"5/3", ["5/3"],
                    np.array(["5/3"])]:
        with pytest.raises(ValueError, match="^wavelet must be '9/7' or '5/3', got") as caught:
            call(wavelet)
        assert len(str(caught.value)) < 80
    call("5/3")
    with pytest.raises(TypeError):  # a keyword only
        dwt97.analyze(np.zeros((4, 4), np.uint8), 1, 0, "5/3")


@pytest.mark.parametrize("height,width,levels", [(13, 17, 2), (1, 9, 4), (9, 1, 1), (1, 1, 0),
                                                 (64, 64, 6), (33, 17, 6)])
def test_subbands_are_views_that_tile_each_level(height, width, levels):
    c = np.zeros((height, width), np.float32)
    bands = dwt97.subbands(c, levels)
    assert len(bands) == levels + 1
    # Each level's four bands, put back together, are the band they split.
    h, w = height, width
    for cH, cV, cD in bands[:0:-1]:
        lh, lw = (h + 1) // 2, (w + 1) // 2
        assert cH.shape == (h - lh, lw) and cV.shape == (lh, w - lw) and cD.shape == (h - lh, w - lw)
        h, w = lh, lw
    assert bands[0].shape == (h, w)
    # Every entry of c lies in exactly one band: each band written through
    # its view numbers its own entries.
    flat = [bands[0]] + [band for level in bands[1:] for band in level]
    for number, band in enumerate(flat, 1):
        assert band.base is c or band is c
        band += number
    assert sorted(np.unique(c)) == [n for n, band in enumerate(flat, 1) if band.size]
    assert sum(band.size for band in flat) == c.size


def test_subbands_take_numpy_arrays_of_two_dimensions():
    assert dwt97.subbands(np.zeros((5, 6)), 2)[0].dtype == np.float64  # any dtype
    with pytest.raises(TypeError, match="numpy array"):
        dwt97.subbands([[0.0] * 4] * 4, 1)  # a list's bands would be a copy's
    for shape in [(0, 4), (4, 0)]:
        with pytest.raises(ValueError, match="empty"):
            dwt97.subbands(np.zeros(shape, np.float32), 0)
    for shape in [(16,), (2, 4, 4)]:
        with pytest.raises(ValueError, match="2-D"):
            dwt97.subbands(np.zeros(shape, np.float32), 1)


def test_view_of_a_small_case():
    # Of a 3 x 3 array at one level: the 2 x 2 low-low band stretched from 0
    # to 255, each detail band about 128 by its own largest magnitude (ties
    # to even). At two levels the low-low band splits once more: its single
    # low entry is flat (0) and its three single details are positive (255).
    c = np.array([[0, 2, 3],
                  [1, 4, -6],
                  [0, 5, -2]], np.float32)
    np.testing.assert_array_equal(dwt97.view(c, 1), [[0, 128, 192], [64, 255, 1], [128, 255, 1]])
    np.testing.assert_array_equal(dwt97.view(c, 2), [[0, 255, 192], [255, 255, 1], [128, 255, 1]])
    # No levels: the whole array stretched, (v + 6) 255 / 11.
    np.testing.assert_array_equal(dwt97.view(c, 0),
                                  [[139, 185, 209], [162, 232, 0], [139, 255, 93]])
    # A detail band all 0 is middle grey.
    c[:2, 2] = 0
    assert (dwt97.view(c, 1)[:2, 2] == 128).all()


@pytest.mark.parametrize("height,width,levels", [(3, 3, 1), (33, 17, 3), (64, 63, 6), (1, 9, 2)])
def test_view_of_5_3_coefficients(rng, height, width, levels):
    # Each band scaled as the 9/7's: int32 within 2^24 are exact as float32.
    c = rng.integers(-2**24, 2**24, (height, width), dtype=np.int32)
    np.testing.assert_array_equal(dwt97.view(c, levels, wavelet="5/3"),
                                  dwt97.view(c.astype(np.float32), levels))
    # A flat picture: a flat low-low band (0) and details all 0 (128).
    flat = dwt97.analyze(np.full((height, width), 77, np.uint8), levels, wavelet="5/3")
    low = dwt97.subbands(flat, levels, wavelet="5/3")[0]
    assert (low == 77).all() and np.count_nonzero(flat) == low.size
    shown = dwt97.view(flat, levels, wavelet="5/3")
    assert (shown[:low.shape[0], :low.shape[1]] == 0).all()
    assert np.count_nonzero(shown == 128) == flat.size - low.size


BAD_COUNTS = [(1, -1, ValueError), (2**40, 0, ValueError), (1, 2**40, ValueError),
              (True, 0, TypeError), (1, False, TypeError), (1.0, 0, TypeError),
              ("2", 0, TypeError), (-1, 0, ValueError)]


@pytest.mark.parametrize("name,operation,wavelet", [
    ("analyze", "dwtAnalyze", "9/7"), ("synthesize", "dwtSynthesize", "9/7"),
    ("view", "dwtRenderView", "9/7"), ("subbands", "subbands", "9/7"),
    ("analyze", "dwtAnalyze53", "5/3"), ("synthesize", "dwtSynthesize53", "5/3"),
    ("view", "dwtRenderView", "5/3"), ("subbands", "subbands", "5/3")])
def test_coefficient_operations_refuse_bad_counts(name, operation, wavelet):
    function = functools.partial(getattr(dwt97, name), wavelet=wavelet)
    dtype = np.int32 if wavelet == "5/3" else np.float32
    takes_threads = name in ("analyze", "synthesize")
    for shape, most in [((4, 4), 2), ((5, 9), 4), ((1, 1), 0), ((1, 2), 1)]:
        c = np.zeros(shape, dtype)
        with pytest.raises(dwt97.UnsupportedError) as caught:
            function(c, most + 1)
        assert str(caught.value) == \
            "Error: %s(), Too many levels for the picture (at most %d)!" % (operation, most)
        assert isinstance(caught.value, ValueError)
        function(c, most)
    big = np.zeros((600, 600), dtype)
    for levels, threads, kind in BAD_COUNTS:
        if takes_threads:
            call = lambda: function(big, levels, threads)
        elif isinstance(threads, int) and not isinstance(threads, bool) and threads == 0:
            call = lambda: function(big, levels)
        else:
            continue  # a bad thread count, for a call that takes none
        with pytest.raises(kind) as caught:
            call()
        assert len(str(caught.value)) < 60 and "array" not in str(caught.value)
    # numpy's integers are counts too.
    small = np.arange(12, dtype=dtype).reshape(3, 4)
    np.testing.assert_equal(function(small, np.int64(2)), function(small, 2))
