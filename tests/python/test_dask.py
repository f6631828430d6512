"""examples/dask_batch.py on a local cluster of two worker processes gives the
batch tool's outputs bit for bit."""
import importlib.util
import os

import numpy as np
import pytest

import ocumbra
from conftest import random_image, run_tool

distributed = pytest.importorskip("distributed")

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "dask_batch.py")


def load_example():
    found = importlib.util.spec_from_file_location("dask_batch", EXAMPLE)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_eight_images_on_two_workers_equal_the_batch_tool(tmp_path, monkeypatch):
    photos = tmp_path / "photos"
    photos.mkdir()
    for i in range(8):
        ocumbra.write_image(random_image(60 + 7 * i, 80 - 3 * i, seed=10 + i), photos / f"p{i}.png")
    (photos / "broken.png").write_bytes(b"no image")
    example = load_example()
    sim, kwargs, inputs = example.parse_simulation(["fixdep", "--acuity", "20/40", "--at", "30,20", str(photos)])

    monkeypatch.setenv("OCUMBRA_THREADS", "1")  # one core per worker process
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        failed = example.run(client, sim, kwargs, inputs, str(tmp_path / "dask"), pattern="{stem}_{sim}.npy",
                             report=lambda line: None)
    assert [os.path.basename(p) for p, _ in failed] == ["broken.png"]
    assert "Unable to determine the file format." in failed[0][1]

    # The batch tool fails on the broken file (exit 1), so it is run on the good ones.
    good = sorted(str(p) for p in photos.glob("p*.png"))
    run_tool("batch", "--jobs", "2", "--pattern", "{stem}_{sim}.npy", "--out", tmp_path / "tool", "fixdep",
             "--acuity", "0.5", "--at", "30,20", *good)
    names = sorted(os.listdir(tmp_path / "tool"))
    assert names == [f"p{i}_fixdep.npy" for i in range(8)]
    assert sorted(os.listdir(tmp_path / "dask")) == names
    for n in names:
        assert np.array_equal(np.load(tmp_path / "dask" / n), np.load(tmp_path / "tool" / n)), n
