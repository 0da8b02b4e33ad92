import pytest

from serve_client import Server, face_png, plain_png

@pytest.fixture(scope="module")
def server(cli, demo_models, tmp_path_factory):
    """One server for a module's tests: one job at a time, a queue of 8 and a
    1 MB upload limit."""
    server = Server(cli, demo_models, tmp_path_factory.mktemp("server-tmp"),
                    "--jobs", "1", "--queue", "8", "--max-upload-mb", "1")
    yield server
    assert server.stop() == 0, "".join(server.lines)
    assert server.left_in_tmp() == [], "a request wrote a file"


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
