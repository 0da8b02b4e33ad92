"""`brightloom serve` against clients that misbehave: bodies past the upload
limit in every framing, requests that trickle in, floods of slow
connections, signals at awkward moments, and requests another web site
makes through the user's browser. Raw sockets on loopback; every loop is
bounded."""
import io
import os
import select
import signal
import socket
import threading
import time

import pytest
from PIL import Image

from serve_client import Server, address, multipart, read_answer, request

LIMIT = 1 << 20  # --max-upload-mb 1
DEADLINE = 3     # --request-timeout 3


@pytest.fixture(scope="module")
def hostile(cli, demo_models, tmp_path_factory):
    """Small limits, so that each misbehaviour shows within seconds: one
    waiting job, so four connection threads take uploads."""
    server = Server(cli, demo_models, tmp_path_factory.mktemp("hostile-tmp"), "--jobs", "1", "--queue", "1",
                    "--max-upload-mb", "1", "--request-timeout", str(DEADLINE),
                    "--allow-host", "photos.example")
    yield server
    assert server.stop() == 0, "".join(server.lines)
    assert server.left_in_tmp() == []


def post_head(url, framing, boundary="b0undary", path="/api/enhance"):
    host, port = address(url)
    head = (f"POST {path} HTTP/1.1\r\nHost: {host}:{port}\r\n"
            f"Content-Type: multipart/form-data; boundary={boundary}\r\n")
    framings = {"length": f"Content-Length: {200 << 20}\r\n", "chunked": "Transfer-Encoding: chunked\r\n",
                "none": ""}
    return (head + framings[framing] + "\r\n").encode()


def endless_form(framing, boundary="b0undary"):
    """A form whose image never ends, 64 KB at a time."""
    piece = (f'--{boundary}\r\nContent-Disposition: form-data; name="image"; filename="a.png"\r\n\r\n'
             .encode())
    while True:
        yield b"%x\r\n%s\r\n" % (len(piece), piece) if framing == "chunked" else piece
        piece = b"x" * 65536


def answered(sock, seconds=0.0):
    return bool(select.select([sock], [], [], seconds)[0])


@pytest.mark.parametrize("framing", ["length", "chunked", "none"])
def test_the_upload_limit_holds_for_every_framing(hostile, framing):
    sent = 0
    with socket.create_connection(address(hostile.url), timeout=5) as sock:
        sock.sendall(post_head(hostile.url, framing))
        try:
            for piece in endless_form(framing):
                if answered(sock) or sent > 64 * LIMIT:
                    break
                sock.sendall(piece)
                sent += len(piece)
            if framing == "none":
                sock.shutdown(socket.SHUT_WR)  # the end of a body without a length
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            pass
        status, _, body = read_answer(sock)
    assert status == 413, body
    assert b"Upload too large: the limit is 1 MB" in body
    # The server stopped reading near the limit: what it took after its
    # answer and the two sockets' buffers hold the rest.
    assert sent < 24 * LIMIT


@pytest.mark.parametrize("head, trickle, status", [
    (b"GET /api/health HTTP/1.1\r\n", b"X-Slow: 1\r\n", 408),
    (None, b"x", 408),
])
def test_a_request_that_trickles_in_is_cut_off_at_its_deadline(hostile, head, trickle, status):
    host, port = address(hostile.url)
    if head is None:
        head = (f"POST /api/enhance HTTP/1.1\r\nHost: {host}:{port}\r\nContent-Length: 100000\r\n"
                "Content-Type: multipart/form-data; boundary=b\r\n\r\n").encode()
    with socket.create_connection((host, port), timeout=5) as sock:
        sock.sendall(head)
        # A byte every 0.1 s, for 4 deadlines at most: a timeout that
        # restarted with every byte would never come.
        for _ in range(10 * DEADLINE * 4):
            if answered(sock, 0.1):
                break
            sock.sendall(trickle)
        got, _, body = read_answer(sock)
    assert got == status, body


def test_health_answers_while_slow_uploads_hold_every_upload_thread(hostile):
    host, port = address(hostile.url)
    slow = []
    try:
        for _ in range(8):  # twice the threads uploads may take
            sock = socket.create_connection((host, port), timeout=5)
            sock.sendall(post_head(hostile.url, "chunked") + next(endless_form("chunked")))
            slow.append(sock)
        for _ in range(5):
            answer = request(hostile.url + "/api/health", timeout=2)
            assert answer.status == 200
    finally:
        for sock in slow:
            sock.close()


def test_sigterm_stops_within_seconds_whatever_clients_do(cli, demo_models, tmp_path):
    server = Server(cli, demo_models, tmp_path, "--queue", "0", "--request-timeout", "600")
    host, port = address(server.url)
    clients = []
    for first_bytes in [b"GET /api/health HTTP/1.1\r\nHost: x",  # a head that never ends
                        post_head(server.url, "chunked") + next(endless_form("chunked"))] * 4:
        sock = socket.create_connection((host, port), timeout=5)
        sock.sendall(first_bytes)
        clients.append(sock)
    time.sleep(0.3)  # lets the server take them in
    server.process.send_signal(signal.SIGTERM)
    assert server.process.wait(8) == 0, "".join(server.lines)
    for sock in clients:
        status, _, _ = read_answer(sock, 2)
        assert status in (503, 0)  # told, or only closed
        sock.close()
    assert server.left_in_tmp() == []


@pytest.mark.parametrize("signals, code", [
    ([signal.SIGHUP], 0),
    ([signal.SIGTERM, signal.SIGTERM], 130),
    ([signal.SIGINT, signal.SIGHUP], 130),
])
def test_signals_during_a_job_leave_no_upload_behind(cli, demo_models, pictures, tmp_path, signals, code):
    _, images = pictures
    server = Server(cli, demo_models, tmp_path, "--jobs", "1")

    def upscale():
        try:
            server.post("upscale", {"image": images["big"], "scale": "4"})
        except OSError:
            pass  # a second signal ends the server before it answers

    slow = threading.Thread(target=upscale)
    slow.start()
    server.wait_for(lambda h: h["queue"]["running"] == 1)
    assert server.left_in_tmp() == [], "an upload is on disk"
    for number in signals:
        server.process.send_signal(number)
        time.sleep(0.1)
    assert server.process.wait(120) == code, "".join(server.lines)
    slow.join(120)
    assert server.left_in_tmp() == []


def exchange(url, method, path, headers, body=b""):
    host, port = address(url)
    fields = {"Host": f"{host}:{port}", **headers}
    head = f"{method} {path} HTTP/1.1\r\n" + "".join(
        f"{name}: {value.format(port=port)}\r\n" for name, value in fields.items() if value is not None)
    with socket.create_connection((host, port), timeout=10) as sock:
        sock.sendall(head.encode() + b"\r\n" + body)
        return read_answer(sock)


FORM = {"Content-Type": "multipart/form-data; boundary=b", "Content-Length": "4"}

# method, path, headers (None drops one; {port} is the server's), status,
# the Allow header of a 405.
BEFORE_THE_BODY = [
    ("GET", "/api/swap", {}, 405, "POST"),
    ("OPTIONS", "/api/swap", {"Origin": "http://evil.example"}, 403, None),
    ("OPTIONS", "/api/swap", {}, 405, "POST"),
    ("POST", "/api/health", {"Content-Length": "0"}, 405, "GET, HEAD"),
    ("DELETE", "/", {}, 405, "GET, HEAD"),
    ("GET", "/api/nothing", {}, 404, None),
    ("GET", "/api/health", {"Host": "evil.example:{port}"}, 421, None),
    ("GET", "/api/health", {"Host": "127.0.0.1:1"}, 421, None),
    ("GET", "/api/health", {"Host": "127.0.0.1"}, 421, None),
    ("GET", "/api/health", {"Host": None}, 421, None),
    ("POST", "/api/swap", {**FORM, "Origin": "http://evil.example"}, 403, None),
    ("POST", "/api/swap", {**FORM, "Origin": "http://127.0.0.1:1"}, 403, None),
    ("POST", "/api/swap", {**FORM, "Origin": "null"}, 403, None),
    ("POST", "/api/swap", {**FORM, "Content-Encoding": "gzip"}, 415, None),
    ("POST", "/api/swap", {**FORM, "Content-Length": None, "Transfer-Encoding": "gzip, chunked"}, 501, None),
    ("POST", "/api/swap", {**FORM, "Content-Length": "0x10"}, 400, None),
    ("GET", "/api/health", {"Host": "localhost:{port}"}, 200, None),
    ("GET", "/api/health", {"Host": "[::1]:{port}"}, 200, None),
    ("GET", "/api/health", {"Host": "PHOTOS.example"}, 200, None),
    ("GET", "/api/health", {"Host": "photos.example:443"}, 200, None),
    ("GET", "/api/health", {"Origin": "http://127.0.0.1:{port}"}, 200, None),
]


def test_requests_are_judged_by_their_head_before_their_body(hostile):
    for method, path, headers, status, allow in BEFORE_THE_BODY:
        got, answer_headers, body = exchange(hostile.url, method, path, headers, b"--b-")
        assert got == status, (method, path, headers, body)
        assert answer_headers.get("Allow") == allow, (method, path)
    # The page's own requests still work.
    host, port = address(hostile.url)
    got, _, _ = exchange(hostile.url, "POST", "/api/swap", {**FORM, "Origin": f"http://{host}:{port}"}, b"--b-")
    assert got == 400  # past the checks: a form without images


@pytest.mark.parametrize("operation, field, value", [
    ("swap", "blur", " 0.5"),
    ("swap", "blur", "0x1p-2"),
    ("swap", "blur", "5e-1"),
    ("swap", "padding", "0x10"),
    ("swap", "padding", "1e2"),
    ("blend", "padding", "10.0"),
    ("blend", "padding", "1, 2, +3, 4"),
    ("colorize", "blend", "+50"),
])
def test_numbers_are_plain_decimals(hostile, operation, field, value):
    answer = hostile.post(operation, {field: value})
    assert answer.status == 400, answer.body
    assert answer.json()["error"].startswith(f"Field {field} must be")


def image_bytes(format, size, **options):
    out = io.BytesIO()
    Image.new("RGB", (size, size), (40, 40, 40)).save(out, format, **options)
    return out.getvalue()


@pytest.mark.parametrize("format, options", [
    ("PNG", {}), ("GIF", {}), ("WEBP", {"lossless": True}), ("JPEG", {"quality": 5}), ("BMP", {}),
])
def test_an_upscale_past_the_pixel_cap_is_refused_before_it_runs(hostile, format, options):
    # 4100 x 4 = 16400 a side, just past 2^28 pixels; BMP does not compress,
    # so it only declares its size in a cut-off file.
    data = image_bytes(format, 4100 if format != "BMP" else 16, **options)
    if format == "BMP":
        data = data[:18] + (4100).to_bytes(4, "little") * 2 + data[26:]
    assert len(data) < LIMIT
    answer = hostile.post("upscale", {"image": data, "scale": "4"})
    assert (answer.status, answer.json()) == (413, {"error": (
        "The upscaled image would be 16400 x 16400 pixels, more than the limit of 268435456 pixels")})
    assert hostile.health()["queue"]["running"] == 0
