import os

import pytest

from serve_client import Server, face_png, plain_png

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


@pytest.fixture(scope="module")
def server(cli, demo_models, tmp_path_factory):
    """One server for a module's tests: a queue of 8 and a 1 MB upload limit."""
    server = Server(cli, demo_models, tmp_path_factory.mktemp("server-tmp"),
                    "--queue", "8", "--max-upload-mb", "1")
    yield server
    assert server.stop() == 0, "".join(server.lines)
    assert server.upload_dirs() == [], "the upload folder outlived the server"


@pytest.fixture(scope="session")
def pictures(tmp_path_factory):
    """Input files, for the command-line tool, and their bytes, for the server."""
    folder = tmp_path_factory.mktemp("pictures")
    images = {"source": face_png((255, 159, 127)), "target": face_png((159, 223, 255)),
              "faceless": plain_png(),
              # Slow enough to keep the server busy while other requests come.
              "big": plain_png(512)}
    for name, data in images.items():
        (folder / f"{name}.png").write_bytes(data)
    return folder, images
