"""Shared by the tests of the Python module: the built tool and its data folder
(CTest passes OCUMBRA_BIN, the build's bin/ folder; PYTHONPATH names the module)."""
import os
import subprocess

import numpy as np
import pytest

BIN = os.environ.get("OCUMBRA_BIN", os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin"))


def run_tool(*args):
    """Runs build/bin/ocumbra-sim; fails the test with its stderr when it fails."""
    # Under the sanitizers the interpreter runs with their runtime preloaded;
    # the tool has its own linked in.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    r = subprocess.run([os.path.join(BIN, "ocumbra-sim"), *map(str, args)], capture_output=True, text=True,
                       env=env)
    assert r.returncode == 0, r.stderr
    return r


def random_image(rows, cols, planes=3, seed=1, dtype=np.uint8):
    shape = (rows, cols) if planes == 1 else (rows, cols, planes)
    top = np.iinfo(dtype).max
    return np.random.default_rng(seed).integers(0, top, size=shape, endpoint=True, dtype=dtype)


@pytest.fixture
def photo():
    """The program's sample photo: 400 rows x 600 columns, colour."""
    return os.path.join(BIN, "NatIm13.jpg")
