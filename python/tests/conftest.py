"""What the package's tests share: a bitmap maker, the built tool as the
oracle, a seeded generator and pickle round trips."""
import os
import pickle
import struct

import numpy as np
import pytest


def make_bitmap(pixels, top_down=False, bits=8):
    """The bytes of an 8-bit grey bitmap whose rows, in file order, are
    `pixels` (padded to four bytes), with a grey palette."""
    height, width = pixels.shape
    stride = (width + 3) & ~3
    data = np.zeros((height, stride), np.uint8)
    data[:, :width] = pixels
    offset = 54 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + data.size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                       data.size, 2835, 2835, 256, 0)
    palette = bytes(b for g in range(256) for b in (g, g, g, 0))
    return header + info + palette + data.tobytes()


def pickled(value):
    """Copies of `value` through pickle, one per protocol, as another process
    (a worker of a cluster, a multiprocessing pool) would receive it."""
    return [pickle.loads(pickle.dumps(value, protocol))
            for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]


@pytest.fixture(scope="session")
def tool():
    """The command-line tool of the same build, or skip."""
    path = os.environ.get("DWT97_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("DWT97_TOOL does not name the built tool")
    return path


@pytest.fixture(scope="session")
def rng():
    return np.random.default_rng(97)
