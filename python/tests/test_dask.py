"""The package inside Dask workers: failures reach the client as the
package's own exceptions, and examples/dask_batch.py writes the tool's very
.npy files for a folder of pictures, a broken one among them."""
import errno
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import dwt97
from conftest import make_bitmap
from test_files import REFUSED

distributed = pytest.importorskip("distributed")

# Debian's Tornado warns of the event loop Distributed's clients start.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "examples" / "dask_batch.py"


@pytest.fixture(scope="module")
def cluster():
    """Two worker processes of one thread each, no dashboard: shared by the
    module's tests, as starting one takes seconds."""
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as local:
        yield local


@pytest.fixture(scope="module")
def client(cluster):
    with distributed.Client(cluster) as connected:
        yield connected


@pytest.mark.parametrize("data,kind,message", REFUSED, ids=range(len(REFUSED)))
def test_a_workers_failure_reaches_the_client_as_its_class(client, data, kind, message):
    with pytest.raises(kind) as caught:
        client.submit(dwt97.parse, data, pure=False).result()
    assert type(caught.value) is kind and str(caught.value) == message


def test_a_workers_file_failure_keeps_errno_and_name(client, tmp_path):
    missing = str(tmp_path / "missing.bmp")
    with pytest.raises(dwt97.FileError) as caught:
        client.submit(dwt97.load, missing, pure=False).result()
    error = caught.value
    assert type(error) is dwt97.FileError and str(error) == "Error: bmpLoad(), File open fail!"
    assert (error.errno, error.filename) == (errno.ENOENT, missing)
    # And a picture comes back whole.
    pixels = np.arange(35, dtype=np.uint8).reshape(5, 7)
    picture = client.submit(dwt97.parse, make_bitmap(pixels, top_down=True)).result()
    np.testing.assert_array_equal(picture.pixels, pixels)
    assert not picture.bottom_up and picture.header["stored_height"] == -5


def write_pictures(folder, rng):
    """Forty small pictures: bitmaps bottom-up and top-down, PGM and PNG files
    (where this build writes PNG), odd and even sides, one row or one column;
    and a bitmap cut short. Returns their names and their files' bytes."""
    writers = [lambda path, p: path.write_bytes(make_bitmap(p)),
               lambda path, p: path.write_bytes(make_bitmap(p, top_down=True)), dwt97.save]
    suffixes = [".bmp", ".bmp", ".pgm", ".png"]
    try:
        dwt97.save(folder / "probe.png", np.zeros((1, 1), np.uint8))
        writers.append(dwt97.save)
        os.remove(folder / "probe.png")
    except dwt97.UnsupportedError:
        pass
    for k in range(39):
        height, width = [(1, 9), (9, 1), (3, 3)][k] if k < 3 else rng.integers(3, 40, 2)
        name = "p%02d%s" % (k, suffixes[k % len(writers)])
        writers[k % len(writers)](folder / name, rng.integers(0, 256, (height, width), np.uint8))
    (folder / "broken.bmp").write_bytes(make_bitmap(np.zeros((8, 8), np.uint8))[:-5])
    return {path.name: path.read_bytes() for path in folder.iterdir()}


# The script's own LocalCluster, then the module's cluster through its
# address; the 9/7 in one level, then the 5/3 in two.
RUNS = [(["--workers=2"], []), (["--levels=2", "--wavelet=5/3"], ["--levels=2", "--wavelet=5/3"])]


@pytest.mark.parametrize("options,tool_options", RUNS)
def test_the_batch_writes_the_tools_files(tool, cluster, tmp_path, rng, options, tool_options):
    if not SCRIPT.exists():
        pytest.skip("not run from the repository")
    if "--workers=2" not in options:
        options = options + ["--scheduler", cluster.scheduler_address]
    folder, out, expected = tmp_path / "in", tmp_path / "out", tmp_path / "tool"
    for path in (folder, expected):
        path.mkdir()
    given = write_pictures(folder, rng)
    # Two inputs that would write one output are refused, not overwritten.
    (folder / "twin.bmp").write_bytes(given["p00.bmp"])
    (folder / "twin.pgm").write_bytes(given["p02.pgm"])
    run = subprocess.run([sys.executable, str(SCRIPT), *options, str(folder), str(out)],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, timeout=120, check=False)
    assert run.returncode == 1, run.stderr
    for name in given:
        npy = os.path.splitext(name)[0] + ".npy"
        told = subprocess.run([tool, "--no-pause", "-q", *tool_options, str(folder / name),
                               str(expected / npy)], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        assert told.returncode == (1 if name == "broken.bmp" else 0), name
        if told.returncode == 0:
            assert (out / npy).read_bytes() == (expected / npy).read_bytes(), name
    # The broken picture named with the package's message; no output for it
    # or the twins, and no temporary left.
    with pytest.raises(dwt97.TruncatedError) as caught:
        dwt97.parse(given["broken.bmp"])
    assert "broken.bmp: %s\n" % caught.value in run.stderr
    assert "twin.bmp: its output twin.npy is also that of twin.pgm\n" in run.stderr
    assert sorted(os.listdir(out)) == sorted(os.path.splitext(name)[0] + ".npy"
                                             for name in given if name != "broken.bmp")


def test_the_batch_of_good_pictures_succeeds(cluster, tmp_path):
    # Status 0 when every picture is written; an empty folder has nothing to do.
    if not SCRIPT.exists():
        pytest.skip("not run from the repository")
    folder = tmp_path / "in"
    folder.mkdir()
    command = [sys.executable, str(SCRIPT), "--scheduler", cluster.scheduler_address,
               str(folder), str(tmp_path / "out")]
    for count in (0, 2):
        for k in range(count):
            (folder / ("a%d.pgm" % k)).write_bytes(b"P5 2 3 255\n" + bytes(range(6)))
        run = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, timeout=120, check=False)
        assert (run.returncode, run.stderr) == (0, "")
        assert sorted(os.listdir(tmp_path / "out")) == ["a%d.npy" % k for k in range(count)]
