"""The wheel of tools/build-wheel.sh installs offline into a fresh virtual
environment and swaps from any folder with the library it carries, without
BRIGHTLOOM_LIBRARY and without the checkout."""
import os
import subprocess

import numpy as np
import pytest
from PIL import Image

import brightloom
from conftest import ROOT
from test_install import DEBIAN_PYTHON, library_path

RUN = """
import sys
import numpy as np
import brightloom
print(brightloom.load()._name)
with brightloom.Engine(sys.argv[1]) as engine:
    np.save(sys.argv[4], engine.swap(sys.argv[2], sys.argv[3]))
"""


def test_wheel_installs_and_swaps_with_its_own_library(tmp_path, demo_dir, faces):
    if not os.path.exists(library_path()):
        pytest.skip(f"library not built at {library_path()}")
    build_dir = os.path.dirname(os.path.dirname(library_path()))
    built = subprocess.run(["bash", os.path.join(ROOT, "tools", "build-wheel.sh"), build_dir,
                            str(tmp_path / "dist")], capture_output=True, text=True, timeout=600)
    assert built.returncode == 0, built.stdout + built.stderr
    wheel = built.stdout.split()[-1]
    assert os.path.basename(wheel).startswith(f"brightloom-{brightloom.__version__}-py3-none-")

    venv = tmp_path / "venv"
    # Debian's numpy comes from the system; nothing is downloaded.
    subprocess.run([DEBIAN_PYTHON, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "PYTHONHOME", "BRIGHTLOOM_LIBRARY", "LD_LIBRARY_PATH")}
    installed = subprocess.run([python, "-m", "pip", "install", "--no-index", "--quiet",
                                "--disable-pip-version-check", wheel],
                               capture_output=True, text=True, env=env, timeout=300)
    assert installed.returncode == 0, installed.stdout + installed.stderr

    source, target = tmp_path / "source.png", tmp_path / "target.png"
    Image.fromarray(faces["source"]).save(source)
    Image.fromarray(faces["group"]).save(target)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    run = subprocess.run([python, "-c", RUN, demo_dir, str(source), str(target),
                          str(tmp_path / "result.npy")],
                         capture_output=True, text=True, env=env, cwd=elsewhere, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    assert run.stdout.split()[0].startswith(str(venv)), run.stdout

    with brightloom.Engine(demo_dir) as engine:
        assert np.array_equal(np.load(tmp_path / "result.npy"), engine.swap(source, target))
