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


DETECT = ("scrfd_2.5g.onnx", "2dfan4.onnx", "arcface_w600k_r50.onnx")


@pytest.fixture(scope="session")
def demo_models(models_dir, tmp_path_factory):
    """The demo's model directory: the stand-in detector, landmarker and
    recognizer, and the demo swapper, restorer, colorizer and upscalers."""
    models_dir = os.path.abspath(models_dir)
    folder = tmp_path_factory.mktemp("demo-models")
    for name in DETECT:
        os.symlink(os.path.join(models_dir, "detect", name), folder / name)
    demo = os.path.join(models_dir, "demo")
    for name in os.listdir(demo):
        os.symlink(os.path.join(demo, name), folder / name)
    return folder


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


def shared_assets():
    """The shared photos and detector models: beside the checkout (as CI lays
    them), else the workplace's copy; None when neither is there."""
    for path in (os.path.join(ROOT, "..", "shared", "assets"), "/work/shared/assets"):
        if os.path.isfile(os.path.join(path, "models", "scrfd_2.5g_bnkps_640.onnx")):
            return os.path.abspath(path)
    return None


@pytest.fixture(scope="session")
def photo_detector(tmp_path_factory):
    """(photo folder, model folder holding the real detector as the library
    names it)."""
    assets = shared_assets()
    if assets is None:
        pytest.skip("the shared photos and detector (shared/assets) are not here")
    models = tmp_path_factory.mktemp("photo-detector")
    os.symlink(os.path.join(assets, "models", "scrfd_2.5g_bnkps_640.onnx"), models / "scrfd_2.5g.onnx")
    return os.path.join(assets, "images"), str(models)
