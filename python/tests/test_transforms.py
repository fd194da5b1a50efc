"""The transforms of the package against the tool and against each other:
levels, passes, views, refusals of bad arrays and counts, memory running out
and caller's output arrays."""
import subprocess

import numpy as np
import pytest

import dwt97
from conftest import make_bitmap


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
    for threads in (1, 3):
        assert dwt97.forward(pixels, levels, threads).tobytes() == expected


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


@pytest.mark.parametrize("name", ["forward", "forward_rows", "forward_columns",
                                  "inverse_columns", "inverse_rows"])
def test_views_read_as_their_copies_and_stay_untouched(rng, name):
    function = getattr(dwt97, name)
    base = rng.integers(0, 256, (48, 64), dtype=np.uint8)
    before = base.copy()
    for view in views(base):
        view = view[: view.shape[0] // 2 * 2, : view.shape[1] // 2 * 2]
        result = function(view)
        assert result.dtype == np.uint8 and result.shape == view.shape
        assert result.flags.c_contiguous and result.flags.writeable
        np.testing.assert_array_equal(result, function(np.ascontiguousarray(view)))
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


@pytest.mark.parametrize("name", ["forward", "forward_rows", "forward_columns",
                                  "inverse_columns", "inverse_rows"])
def test_arrays_of_another_kind_are_refused(name):
    function = getattr(dwt97, name)
    for dtype in (np.int8, np.uint16, np.float32, bool):
        with pytest.raises(TypeError, match="uint8"):
            function(np.zeros((4, 4), dtype))
    for shape in [(16,), (2, 4, 4), ()]:
        with pytest.raises(ValueError, match="2-D"):
            function(np.zeros(shape, np.uint8))
    for shape in [(0, 4), (4, 0), (0, 0)]:
        if name == "forward":  # there is no picture to transform
            with pytest.raises(ValueError, match="empty"):
                function(np.zeros(shape, np.uint8))
        else:
            assert function(np.zeros(shape, np.uint8)).shape == shape


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


def test_memory_running_out_raises_memory_error():
    huge = np.broadcast_to(np.uint8(7), (1 << 22, 1 << 22))  # 16 TiB, no storage
    with pytest.raises(dwt97.OutOfMemoryError) as caught:
        dwt97.forward(huge)
    assert isinstance(caught.value, MemoryError) and isinstance(caught.value, dwt97.Error)
    assert str(caught.value) == "Error: dwtForward2d(), Out of memory!"


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
