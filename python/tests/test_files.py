"""Pictures read and written by the package: every format, saves of every
kind, the refusals and their exception classes, and the README's example."""
import copy
import errno
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import zlib

import numpy as np
import pytest

import dwt97
from conftest import make_bitmap, pickled


def test_load_and_parse_read_the_same_picture(tmp_path, rng):
    pixels = rng.integers(0, 256, (5, 7), dtype=np.uint8)
    data = make_bitmap(pixels)
    path = tmp_path / "p.bmp"
    path.write_bytes(data)
    for picture in (dwt97.load(path), dwt97.load(str(path)), dwt97.parse(data),
                    dwt97.parse(bytearray(data)), dwt97.parse(memoryview(data)),
                    *pickled(dwt97.parse(data))):
        np.testing.assert_array_equal(picture.pixels, pixels)
        assert picture.bottom_up
        np.testing.assert_array_equal(picture.upright(), pixels[::-1])
        assert not np.shares_memory(picture.upright(), picture.pixels)
        assert picture.header["width"] == 7 and picture.header["height"] == 5
        assert picture.header["bits_per_pixel"] == 8 and picture.header["format"] == "bmp"
    for top_down in (dwt97.parse(make_bitmap(pixels, top_down=True)),
                     *pickled(dwt97.parse(make_bitmap(pixels, top_down=True)))):
        assert not top_down.bottom_up and top_down.header["stored_height"] == -5
        np.testing.assert_array_equal(top_down.upright(), pixels)
        assert not np.shares_memory(top_down.upright(), top_down.pixels)


def test_other_formats_read_top_row_first(tmp_path, rng):
    pixels = rng.integers(0, 256, (3, 4), dtype=np.uint8)
    pgm = b"P5\n# made here\n4 3\n255\n" + pixels.tobytes()
    (tmp_path / "p.pgm").write_bytes(pgm)
    for picture in (dwt97.parse(pgm), dwt97.load(tmp_path / "p.pgm"), *pickled(dwt97.parse(pgm))):
        np.testing.assert_array_equal(picture.pixels, pixels)
        assert not picture.bottom_up
        assert picture.header == {"format": "pgm", "width": 4, "height": 3}
    with pytest.raises(dwt97.TruncatedError):
        dwt97.parse(pgm[:-1])
    # A PPM is read as grey by the luma of its colours.
    ppm = dwt97.parse(b"P6 3 1 255\n" + bytes([255, 0, 0, 0, 255, 0, 0, 0, 255]))
    np.testing.assert_array_equal(ppm.pixels, [[76, 150, 29]])
    assert ppm.header == {"format": "ppm", "width": 3, "height": 1}
    with pytest.raises(dwt97.UnsupportedError, match="GIF pictures are not supported"):
        dwt97.parse(b"GIF89a\x01\x00\x01\x00")


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
    # An empty picture cannot be saved (nor read back): nothing is written.
    for name, shape in (("z.png", (0, 3)), ("z.pgm", (0, 0)), ("z.dat", (3, 0))):
        with pytest.raises(ValueError, match="empty"):
            dwt97.save(tmp_path / name, np.zeros(shape, np.uint8))
        assert not (tmp_path / name).exists()


def test_save_into_a_pipe_through_dev_stdout(rng):
    # /dev/stdout names a pipe here: written in place, no temporary beside it.
    a = rng.integers(0, 256, (6, 5), dtype=np.uint8)
    code = ("import sys, numpy as np, dwt97; "
            "dwt97.save('/dev/stdout', np.frombuffer(sys.stdin.buffer.read(), np.uint8)"
            ".reshape(6, 5), format=sys.argv[1])")
    if not os.path.exists("/dev/stdout"):
        pytest.skip("no /dev/stdout here")
    for format, expected in (("raw", a.tobytes()), ("pgm", b"P5\n5 6\n255\n" + a.tobytes())):
        run = subprocess.run([sys.executable, "-c", code, format], input=a.tobytes(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False,
                             env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
        assert (run.returncode, run.stderr) == (0, b"")
        assert run.stdout == expected


def png_claiming(width, height):
    """A PNG whose header claims width x height grey pixels and whose image
    data is a few bytes: enough to reach the picture's allocation."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(64))) + chunk(b"IEND", b""))


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="RLIMIT_AS as Linux counts it")
def test_loading_out_of_memory_names_the_reader(tmp_path):
    # Under a memory limit a picture of 2^31 - 32768 pixels cannot be had:
    # the package's own exception, also a MemoryError, named as the tool
    # names the reader.
    path = tmp_path / "huge.png"
    path.write_bytes(png_claiming(32767, 65535))
    try:
        dwt97.parse(png_claiming(1, 1))
    except dwt97.UnsupportedError:
        pytest.skip("this build reads no PNG files")
    except dwt97.Error:
        pass
    code = """if True:
        import resource, sys, dwt97
        pages = int(open("/proc/self/statm").read().split()[0])
        limit = pages * resource.getpagesize() + (512 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, resource.getrlimit(resource.RLIMIT_AS)[1]))
        for read in (lambda: dwt97.load(sys.argv[1]), lambda: dwt97.parse(open(sys.argv[1], "rb").read())):
            try:
                read()
            except dwt97.OutOfMemoryError as e:
                assert isinstance(e, MemoryError) and isinstance(e, dwt97.Error), type(e)
                print(e)
        """
    run = subprocess.run([sys.executable, "-c", code, str(path)], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, check=False, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout == "Error: pngLoad(), Out of memory!\n" * 2


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
        # Unpickled, as from another process, it is the same failure.
        for error in (caught.value, *pickled(caught.value)):
            assert type(error) is kind and str(error) == message
            assert isinstance(error, dwt97.Error) and isinstance(error, ValueError)


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
        # Copies and unpickled ones keep the errno and the file name too.
        for error in (caught.value, copy.copy(caught.value), *pickled(caught.value)):
            assert type(error) is dwt97.FileError
            assert isinstance(error, OSError) and isinstance(error, dwt97.Error)
            assert str(error) == message and error.args == (message,)
            assert error.filename == os.fspath(path)
            assert error.errno == (number if number is not None else caught.value.errno)
    assert not list((tmp_path).glob("**/*.dat*"))  # no temporary left behind


def test_names_with_a_null_byte_are_refused(tmp_path):
    # Cut at the null byte, the name would be another file's: this one.
    (tmp_path / "a").write_bytes(GOOD)
    for call in (lambda p: dwt97.load(p), lambda p: dwt97.save(p, np.zeros((2, 2), np.uint8))):
        with pytest.raises(ValueError, match="null"):
            call(str(tmp_path / "a") + "\0.bmp")
    assert (tmp_path / "a").read_bytes() == GOOD


def test_the_readme_examples_run_as_written(tmp_path):
    # From the repository root, where the README has the package installed:
    # here a folder holding what the examples read. The section's examples
    # run one after the other, as one script.
    root = pathlib.Path(__file__).resolve().parents[2]
    readme = root / "README.md"
    if not readme.exists():
        pytest.skip("not run from the repository")
    section = readme.read_text(encoding="utf-8").split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    examples = [block.split("```", 1)[0] for block in section.split("```python\n")[1:]]
    assert len(examples) == 3
    example = "".join(examples)
    (tmp_path / "docs").mkdir()
    shutil.copy(root / "docs" / "sample.png", tmp_path / "docs" / "sample.png")
    try:
        dwt97.load(tmp_path / "docs" / "sample.png")
    except dwt97.UnsupportedError:
        pytest.skip("this build reads no PNG files")
    run = subprocess.run([sys.executable, "-c", example], cwd=tmp_path, check=False,
                         env=dict(os.environ, MPLBACKEND="Agg"), stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "bands.pgm").read_bytes()[:15] == b"P5\n512 512\n255\n"
    # The picture rebuilt from a tenth of its details: near, not the same.
    psnr = float(re.fullmatch(r"PSNR (\d+\.\d) dB\n", run.stdout).group(1))
    stated = float(re.search(r"about (\d+\.\d) dB", section).group(1))
    assert 20 < psnr < 40 and abs(psnr - stated) <= 0.5
