"""What one job may cost: it stops when its client leaves or when it runs
past --job-timeout, and --max-faces bounds the faces it works on. A flat
white picture is where the stand-in detector sees hundreds of faces, each a
model run or more: without a ceiling, tens of seconds of work from 150
bytes. Loopback only; every wait is bounded."""
import socket
import time

import pytest

from serve_client import Server, address, face_png, multipart, plain_png

FLAT = plain_png(64, (255, 255, 255))
FACE = face_png((255, 200, 150))


def logged(server, line, seconds=30.0):
    """Whether the server's log shows `line` within `seconds` (the log is
    read on another thread, which may lag behind the answer)."""
    deadline = time.monotonic() + seconds
    while line not in server.lines and time.monotonic() < deadline:
        time.sleep(0.02)
    return line in server.lines


# Long jobs without a ceiling on faces: between faces and between tiles the
# engine sees the flag.
LONG_JOBS = [
    ("enhance", {"image": FLAT}),
    ("swap", {"source": FACE, "target": FLAT}),
    ("upscale", {"image": plain_png(1024), "scale": "4"}),
]


@pytest.fixture(scope="module")
def no_ceiling(cli, demo_models, tmp_path_factory):
    server = Server(cli, demo_models, tmp_path_factory.mktemp("limits-tmp"), "--jobs", "1",
                    "--max-faces", "0", "--job-timeout", "2")
    yield server
    assert server.stop() == 0, "".join(server.lines)
    assert server.left_in_tmp() == []


@pytest.mark.parametrize("operation, fields", LONG_JOBS, ids=[job[0] for job in LONG_JOBS])
def test_a_job_past_its_time_limit_is_stopped_and_answered_503(no_ceiling, operation, fields):
    answer = no_ceiling.post(operation, fields)
    assert (answer.status, answer.json()) == (
        503, {"error": "The job took longer than the server allows (2 s) and was stopped"})
    assert logged(no_ceiling, f"brightloom: {operation} job stopped: it ran past the job time limit of 2 s\n")
    assert no_ceiling.health()["jobs"]["running"] == 0


# The client leaving sets the flag the time limit sets: one operation shows it.
def test_a_job_whose_client_leaves_is_stopped(cli, demo_models, tmp_path):
    operation, fields = LONG_JOBS[0]
    server = Server(cli, demo_models, tmp_path, "--jobs", "1", "--max-faces", "0")
    try:
        body, content_type = multipart(fields)
        host, port = address(server.url)
        with socket.create_connection((host, port), timeout=10) as leaving:
            leaving.sendall(f"POST /api/{operation} HTTP/1.1\r\nHost: {host}:{port}\r\n"
                            f"Content-Type: {content_type}\r\nContent-Length: {len(body)}\r\n\r\n".encode() + body)
            server.wait_for(lambda h: h["jobs"]["running"] == 1)
        # Well within the default time limit, and the log says it was the client.
        server.wait_for(lambda h: h["jobs"]["running"] == 0, seconds=60)
        assert logged(server, f"brightloom: {operation} job stopped: its client closed the connection\n")
        assert not any(line.startswith(f"brightloom: POST /api/{operation}") for line in server.lines)
        assert server.post("detect", {"image": FACE}).status == 200
    finally:
        assert server.stop() == 0, "".join(server.lines)


def faces_found(server):
    answer = server.post("detect", {"image": FLAT})
    assert answer.status == 200, answer.body
    return answer.json()["faces"]


def test_max_faces_keeps_the_best_faces(cli, demo_models, tmp_path):
    servers = [Server(cli, demo_models, tmp_path, "--jobs", "1", *args) for args in [[], ["--max-faces", "3"]]]
    try:
        default, three = (faces_found(server) for server in servers)
        assert (len(default), len(three)) == (64, 3)
        assert three == default[:3]
        scores = [face["score"] for face in default]
        assert scores == sorted(scores, reverse=True)
        # Enhance works on those faces only and finishes.
        for server in servers:
            assert server.post("enhance", {"image": FLAT}).status == 200
    finally:
        for server in servers:
            assert server.stop() == 0, "".join(server.lines)

