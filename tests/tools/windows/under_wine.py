"""The Windows tool under Wine beside the Linux tool, run by
tools/test-windows.sh: detect's JSON is the Linux tool's, and the server
answers a client on this side of Wine and stops on Ctrl-C. The file is named
so that the Linux suites leave it out.

BRIGHTLOOM_CLI names the Linux tool, BRIGHTLOOM_WINDOWS_CLI brightloom.exe."""
import json
import os
import shlex
import signal
import socket
import subprocess
import sys
import threading

import pytest
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "serve"))
from serve_client import (DARK, Server, address, face_png, pixels, plain_png, png_bytes,  # noqa: E402
                          read_answer)


@pytest.fixture(scope="session")
def windows_cli(tmp_path_factory):
    """A command that is brightloom.exe's own process: each `exec` keeps the
    process id from the shell through Wine's loader, so a signal sent to it
    reaches Wine, which makes SIGINT a console Ctrl-C."""
    exe = os.environ.get("BRIGHTLOOM_WINDOWS_CLI", "")
    if not os.path.isfile(exe):
        pytest.skip(f"brightloom.exe not built at {exe!r}")
    wrapper = tmp_path_factory.mktemp("wine") / "brightloom"
    wrapper.write_text(f"#!/bin/sh\nexec wine {shlex.quote(exe)} \"$@\"\n")
    wrapper.chmod(0o755)
    return str(wrapper)


def faces_png(width, height, squares):
    """A dark picture with bright face squares: (x, y, size, colour) each."""
    image = Image.new("RGB", (width, height), DARK)
    for x, y, size, colour in squares:
        image.paste(colour, (x, y, x + size, y + size))
    return png_bytes(image)


# Pictures for the stand-in detector: faces of several sizes, at the edges,
# none, and a picture that is not square.
PICTURES = {
    "one face": face_png((255, 159, 127)),
    "three faces": faces_png(480, 320, [(40, 40, 48, (255, 200, 150)), (300, 120, 32, (200, 255, 150)),
                                        (200, 250, 56, (150, 200, 255))]),
    "faces at the edges": faces_png(320, 320, [(0, 0, 40, (255, 220, 180)),
                                               (288, 288, 32, (180, 220, 255))]),
    "no face": faces_png(200, 120, []),
}


def detect(cli, models, paths, *options):
    result = subprocess.run([cli, "-q", "-m", str(models), "detect", "--json", *options, *map(str, paths)],
                 capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return [json.loads(line) for line in result.stdout.splitlines()]


@pytest.mark.parametrize("options", [[], ["--embedding"]], ids=["faces", "with embeddings"])
def test_detect_json_is_the_linux_tools(cli, windows_cli, demo_models, tmp_path, options):
    paths = []
    for name, data in PICTURES.items():
        paths.append(tmp_path / (name.replace(" ", "_") + ".png"))
        paths[-1].write_bytes(data)
    linux = detect(cli, demo_models, paths, *options)
    assert len(linux) == len(paths) and any(analysis["faces"] for analysis in linux)
    assert detect(windows_cli, demo_models, paths, *options) == linux


def test_detect_json_on_photos_is_the_linux_tools(cli, windows_cli, photo_detector):
    photos, models = photo_detector
    paths = [os.path.join(photos, name) for name in sorted(os.listdir(photos))[:6]]
    linux = detect(cli, models, paths)
    assert detect(windows_cli, models, paths) == linux


@pytest.fixture(scope="module")
def servers(cli, windows_cli, demo_models, tmp_path_factory):
    """The Windows server under Wine and the Linux one, with the same
    options; both are stopped whatever the tests did."""
    options = ("--jobs", "1", "--queue", "4", "--max-upload-mb", "1")
    linux = Server(cli, demo_models, tmp_path_factory.mktemp("linux-tmp"), *options)
    try:
        windows = Server(windows_cli, demo_models, tmp_path_factory.mktemp("wine-tmp"), *options)
    except BaseException:
        linux.process.kill()
        raise
    yield windows, linux
    for server in (windows, linux):
        if server.process.poll() is None:
            server.process.kill()
            server.process.wait(30)


@pytest.mark.parametrize("path", ["/", "/app.js", "/api/health"])
def test_the_page_and_the_health_report_are_the_linux_servers(servers, path):
    windows, linux = servers
    got, expected = windows.get(path), linux.get(path)
    assert (got.status, got.content_type) == (expected.status, expected.content_type) == (
        200, expected.content_type)
    if path != "/api/health":
        assert got.body == expected.body
        return
    # Video files are Linux-only: the Windows report says so, the rest is the same.
    got, expected = json.loads(got.body), json.loads(expected.body)
    assert got.pop("video")["available"] is False
    expected.pop("video")
    assert got == expected


def test_a_swap_gives_the_linux_servers_pixels(servers):
    windows, linux = servers
    fields = {"source": face_png((255, 159, 127)), "target": face_png((159, 223, 255))}
    got = windows.post("swap", fields)
    assert (got.status, got.content_type) == (200, "image/png"), got.body[:200]
    expected = linux.post("swap", fields)
    assert pixels(got.body).tobytes() == pixels(expected.body).tobytes()


FORM = b"Content-Type: multipart/form-data; boundary=x\r\n"
# Requests the server refuses, each written as it is sent; HOST stands for
# the server's own address.
REFUSED = {
    # The connection watch holds a head until it is whole: one past 16 KB is
    # refused before the library reads it.
    "a head too large": b"GET / HTTP/1.1\r\nHost: HOST\r\n" + b"".join(
        b"X-Filler-%d: %s\r\n" % (i, b"a" * 100) for i in range(200)) + b"\r\n",
    "another host name": b"GET /api/health HTTP/1.1\r\nHost: elsewhere.example\r\n\r\n",
    "a declared body over the upload limit":
        b"POST /api/swap HTTP/1.1\r\nHost: HOST\r\n" + FORM + b"Content-Length: 5000000\r\n\r\n",
    "an unknown path": b"GET /nowhere HTTP/1.1\r\nHost: HOST\r\n\r\n",
    "an unknown method": b"BREW /api/health HTTP/1.1\r\nHost: HOST\r\n\r\n",
}


def raw_answer(server, request_bytes):
    """(status, body) of a request sent as bytes, read until the server closes."""
    host, port = address(server.url)
    with socket.create_connection((host, port), timeout=30) as connection:
        connection.sendall(request_bytes.replace(b"HOST", b"%s:%d" % (host.encode(), port)))
        status, _, body = read_answer(connection, 30)
    return status, body


@pytest.mark.parametrize("request_bytes", REFUSED.values(), ids=REFUSED.keys())
def test_refusals_are_the_linux_servers(servers, request_bytes):
    windows, linux = servers
    expected = raw_answer(linux, request_bytes)
    assert expected[0] >= 400
    assert raw_answer(windows, request_bytes) == expected


def test_ctrl_c_finishes_the_running_job_and_stops_the_server(servers):
    windows, _ = servers
    answers = {}
    slow = threading.Thread(target=lambda: answers.update(
        slow=windows.post("upscale", {"image": plain_png(512), "scale": "4"})))
    slow.start()
    windows.wait_for(lambda health: health["queue"]["running"] == 1)
    windows.process.send_signal(signal.SIGINT)
    assert windows.process.wait(120) == 0, "".join(windows.lines)
    slow.join(120)
    windows.reader.join(10)
    assert answers["slow"].status == 200
    assert pixels(answers["slow"].body).size == (2048, 2048)
    lines = [line.replace("\r\n", "\n") for line in windows.lines]
    assert "brightloom: stopped\n" in lines, "".join(lines)
