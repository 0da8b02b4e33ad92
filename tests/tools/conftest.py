import os
import subprocess
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))

from bmp_files import write_bmp  # noqa: E402,F401  (the suites import it from here)


@pytest.fixture(scope="session")
def cli():
    path = os.environ.get("BRIGHTLOOM_CLI", os.path.join(ROOT, "build", "out", "brightloom"))
    if not os.path.exists(path):
        pytest.skip(f"command-line tool not built at {path}")
    return path


@pytest.fixture(scope="session")
def models_dir():
    path = os.environ.get("BRIGHTLOOM_TEST_MODELS", os.path.join(ROOT, "build", "models"))
    if not os.path.isdir(os.path.join(path, "slots")):
        pytest.skip(f"generated models not found in {path}")
    return path


@pytest.fixture
def run(cli):
    """Runs the tool with arguments; returns the completed process (text)."""
    def runner(*args, env=None, timeout=120):
        full_env = dict(os.environ)
        full_env.pop("BRIGHTLOOM_MODELS", None)
        full_env.update(env or {})
        return subprocess.run([cli, *map(str, args)], capture_output=True, text=True,
                              timeout=timeout, env=full_env)
    return runner
