"""The package installs the usual way (pip, offline, into a virtual
environment) and then imports and runs from there, without the checkout on
the path."""
import os
import shutil
import subprocess

import pytest

from conftest import ROOT

DEBIAN_PYTHON = "/usr/bin/python3"

# Run inside the environment, from a folder outside the checkout: the
# package must come from the environment, and reach the library.
CHECK = """
import os, sys
import brightloom
import brightloom.distributed
print(os.path.dirname(os.path.abspath(brightloom.__file__)))
with brightloom.Engine(sys.argv[1], swap=False, mask_blur=0.5) as engine:
    pass
print("engine-opened")
"""


def library_path():
    return os.environ.get("BRIGHTLOOM_LIBRARY",
                          os.path.join(ROOT, "build", "out", "libkalderon-brightloom-inference.so.1"))


def test_pip_installs_the_package_into_a_virtual_environment(tmp_path, models_dir):
    if not os.path.exists(DEBIAN_PYTHON):
        pytest.skip(f"{DEBIAN_PYTHON} not found")
    if not os.path.exists(library_path()):
        pytest.skip(f"library not built at {library_path()}")
    # pip builds in the source folder it is given; a copy keeps the checkout clean.
    source = tmp_path / "source"
    shutil.copytree(os.path.join(ROOT, "python"), source,
                    ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
    venv = tmp_path / "venv"
    subprocess.run([DEBIAN_PYTHON, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    env["PIP_NO_INPUT"] = "1"
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    installed = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation",
                                "--no-index", "--quiet", str(source)],
                               capture_output=True, text=True, env=env, timeout=300)
    assert installed.returncode == 0, installed.stdout + installed.stderr

    env["BRIGHTLOOM_LIBRARY"] = library_path()
    run = subprocess.run([python, "-c", CHECK, os.path.join(models_dir, "slots")],
                         capture_output=True, text=True, env=env, cwd=str(tmp_path), timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr
    package_dir, status = run.stdout.split()
    assert package_dir.startswith(str(venv)), package_dir
    assert status == "engine-opened"
