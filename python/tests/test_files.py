import errno
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import dwt97
from conftest import make_bitmap


def test_load_and_parse_read_the_same_picture(tmp_path, rng):
    pixels = rng.integers(0, 256, (5, 7), dtype=np.uint8)
    data = make_bitmap(pixels)
    path = tmp_path / "p.bmp"
    path.write_bytes(data)
    for picture in (dwt97.load(path), dwt97.load(str(path)), dwt97.parse(data),
                    dwt97.parse(bytearray(data)), dwt97.parse(memoryview(data))):
        np.testing.assert_array_equal(picture.pixels, pixels)
        assert picture.bottom_up
        np.testing.assert_array_equal(picture.upright(), pixels[::-1])
        assert picture.header["width"] == 7 and picture.header["height"] == 5
        assert picture.header["bits_per_pixel"] == 8 and picture.header["format"] == "bmp"
    top_down = dwt97.parse(make_bitmap(pixels, top_down=True))
    assert not top_down.bottom_up and top_down.header["stored_height"] == -5
    np.testing.assert_array_equal(top_down.upright(), pixels)


def test_other_formats_read_top_row_first(tmp_path, rng):
    pixels = rng.integers(0, 256, (3, 4), dtype=np.uint8)
    pgm = b"P5\n# made here\n4 3\n255\n" + pixels.tobytes()
    (tmp_path / "p.pgm").write_bytes(pgm)
    for picture in (dwt97.parse(pgm), dwt97.load(tmp_path / "p.pgm")):
        np.testing.assert_array_equal(picture.pixels, pixels)
        assert not picture.bottom_up
        assert picture.header == {"format": "pgm", "width": 4, "height": 3}
    with pytest.raises(dwt97.TruncatedError):
        dwt97.parse(pgm[:-1])


def test_save_raw_and_pgm(tmp_path, rng):
    a = rng.integers(0, 256, (40, 30), dtype=np.uint8)[::2, 1::3]  # a strided view
    header = b"P5\n10 20\n255\n"
    cases = [("a.dat", {}, a.tobytes()),
             ("a.PGM", {}, header + a.tobytes()),
             ("a.pgm", {"bottom_up": True}, header + a[::-1].tobytes()),
             ("a.out", {"format": "pgm"}, header + a.tobytes()),
             ("b.pgm", {"format": "raw"}, a.tobytes())]
    for name, options, expected in cases:
        dwt97.save(tmp_path / name, a, **options)
        assert (tmp_path / name).read_bytes() == expected, name
    # A save replaces an older file whole.
    dwt97.save(tmp_path / "a.dat", a[:3])
    assert (tmp_path / "a.dat").read_bytes() == a[:3].tobytes()
    # Standard output by its name, a pipe here: written in place.
    if os.path.exists("/dev/stdout"):
        code = ("import sys, numpy, dwt97; dwt97.save('/dev/stdout', numpy.frombuffer("
                "sys.stdin.buffer.read(), numpy.uint8).reshape(20, 10), format='pgm')")
        piped = subprocess.run([sys.executable, "-c", code], input=a.tobytes(), capture_output=True,
                               env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
        assert (piped.returncode, piped.stderr) == (0, b"")
        assert piped.stdout == header + a.tobytes()
    # PNG, read back through the module's own reader: upright, or row 0 at
    # the bottom.
    for options, rows in (({}, a), ({"bottom_up": True}, a[::-1])):
        dwt97.save(tmp_path / "a.png", a, **options)
        assert (tmp_path / "a.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        np.testing.assert_array_equal(dwt97.load(tmp_path / "a.png").pixels, rows)
    with pytest.raises(ValueError, match="format"):
        dwt97.save(tmp_path / "c", a, format="tiff")
    with pytest.raises(TypeError):
        dwt97.save(tmp_path / "c", a.astype(np.int16))


def corrupt(data, offset, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, offset, value)
    return bytes(data)


GOOD = make_bitmap(np.arange(64, dtype=np.uint8).reshape(8, 8))
# One bitmap per failure group (and the checks of each), with its message.
REFUSED = [
    (corrupt(GOOD, 0, "<H", 0x4D43), dwt97.MalformedError,
     "Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42"),
    (corrupt(GOOD, 26, "<H", 2), dwt97.MalformedError,
     "Error: bmpLoad(), Header check failed: bmp->planes==1"),
    (corrupt(GOOD, 18, "<i", 0), dwt97.MalformedError, "Error: bmpLoad(), Width must be at least 1!"),
    (corrupt(GOOD, 28, "<H", 24), dwt97.UnsupportedError,
     "Error: bmpLoad(), Header check failed: bmp->bitsPerPixel==8"),
    (corrupt(GOOD, 30, "<I", 1), dwt97.UnsupportedError,
     "Error: bmpLoad(), Compressed pixel data is not supported!"),
    (corrupt(GOOD, 22, "<i", 70000), dwt97.UnsupportedError,
     "Error: bmpLoad(), Height beyond 65535 rows!"),
    (GOOD[:53], dwt97.TruncatedError, "Error: bmpLoad(), File too short for a bitmap header!"),
    (GOOD[:-1], dwt97.TruncatedError, "Error: bmpLoad(), Pixel data beyond end of file!"),
]


@pytest.mark.parametrize("data,kind,message", REFUSED)
def test_refused_pictures_raise_their_group(tmp_path, data, kind, message):
    path = tmp_path / "bad.bmp"
    path.write_bytes(data)
    for read in (lambda: dwt97.parse(data), lambda: dwt97.load(path)):
        with pytest.raises(kind) as caught:
            read()
        assert str(caught.value) == message
        assert isinstance(caught.value, dwt97.Error) and isinstance(caught.value, ValueError)


def test_file_failures_raise_file_error(tmp_path):
    cases = [
        (lambda p: dwt97.load(p), tmp_path / "missing.bmp", errno.ENOENT,
         "Error: bmpLoad(), File open fail!"),
        (lambda p: dwt97.load(p), tmp_path, None, "Error: bmpLoad(), Not a regular file!"),
        (lambda p: dwt97.save(p, np.zeros((2, 2), np.uint8)), tmp_path / "no" / "out.dat",
         None, "Error: bmpSave(), File create fail!"),
    ]
    for call, path, number, message in cases:
        with pytest.raises(dwt97.FileError) as caught:
            call(path)
        error = caught.value
        assert isinstance(error, OSError) and isinstance(error, dwt97.Error)
        assert str(error) == message
        assert error.filename == os.fspath(path)
        if number is not None:
            assert error.errno == number
    assert not list((tmp_path).glob("**/*.dat*"))  # no temporary left behind


def test_names_with_a_null_byte_are_refused(tmp_path):
    # Cut at the null byte, the name would be another file's: this one.
    (tmp_path / "a").write_bytes(GOOD)
    for call in (lambda p: dwt97.load(p), lambda p: dwt97.save(p, np.zeros((2, 2), np.uint8))):
        with pytest.raises(ValueError, match="null"):
            call(str(tmp_path / "a") + "\0.bmp")
    assert (tmp_path / "a").read_bytes() == GOOD
