"""Video jobs over HTTP: a two-second clip with sound goes through every
video operation and comes back whole; a result is served in byte ranges;
cancel, delete and shutdown leave no file; refused uploads make no job and
leave nothing; a killed server's spool is removed by the next one. Loopback
only; every wait is bounded."""
import json
import os
import signal
import socket
import subprocess
import time
import urllib.request

import pytest

import video_samples as vs
from serve_client import Server, address, face_png, multipart, read_answer, request

FRAMES, RATE = 24, 12  # two seconds
VIDEO_LIMIT_MB = 2


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    """The demo's swaying group, two seconds at 25 frames a second with a
    tone, as an MP4 (bytes)."""
    vs.need_ffmpeg()
    work = tmp_path_factory.mktemp("clip")
    path = vs.make_video(str(work / "clip.mp4"), str(work), frames=FRAMES, rate=str(RATE),
                         sound="aac")
    with open(path, "rb") as f:
        return f.read()


@pytest.fixture(scope="module")
def video_server(cli, demo_models, tmp_path_factory, clip):
    server = Server(cli, demo_models, tmp_path_factory.mktemp("video-tmp"), "--jobs", "1",
                    "--max-upload-mb", "1", "--max-video-mb", str(VIDEO_LIMIT_MB),
                    "--video-jobs", "1", "--video-queue", "1", "--request-timeout", "5")
    yield server
    assert server.stop() == 0, "".join(server.lines)
    assert server.left_in_tmp() == [], "the spool was not removed"


def post_video(server, operation, fields):
    data, content_type = multipart(fields)
    return request(f"{server.url}/api/videos/{operation}", data, content_type)


def job_state(server, job_id):
    return server.get(f"/api/jobs/{job_id}").json()


def wait_for_job(server, job_id, states=("done", "failed", "cancelled"), seconds=600.0):
    deadline = time.monotonic() + seconds
    while True:
        state = job_state(server, job_id)
        if state["state"] in states:
            return state
        assert time.monotonic() < deadline, "job did not get there: " + json.dumps(state)
        time.sleep(0.05)


def spool_files(server):
    """The files in the server's spool folders (not the folders)."""
    return [os.path.join(folder, name) for folder, _, files in os.walk(server.tmp_dir)
            for name in files]


def wait_until_empty(server, seconds=20.0):
    deadline = time.monotonic() + seconds
    while spool_files(server) and time.monotonic() < deadline:
        time.sleep(0.05)
    return spool_files(server)


def delete(server, path):
    req = urllib.request.Request(server.url + path, method="DELETE")
    try:
        with urllib.request.urlopen(req, timeout=60) as response:
            return response.status, json.loads(response.read())
    except urllib.error.HTTPError as error:
        return error.code, json.loads(error.read())


def get_range(server, path, byte_range):
    req = urllib.request.Request(server.url + path, headers={"Range": byte_range})
    try:
        with urllib.request.urlopen(req, timeout=60) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


@pytest.mark.parametrize("operation, fields, scale", [
    ("swap", {"source": face_png((255, 159, 127)), "enhance": "true"}, 1),
    ("enhance", {"blend": "80", "preset": "ultrafast", "smoothing": "0"}, 1),
    ("colorize", {"container": "mkv"}, 1),
    ("upscale", {"scale": "2", "crf": "30", "container": "webm"}, 2),
])
def test_a_video_job_gives_every_frame_at_the_same_rate_with_its_sound(
        video_server, clip, tmp_path, operation, fields, scale):
    answer = post_video(video_server, operation, {"video": ("clip.mp4", clip), **fields})
    assert answer.status == 202, answer.body
    job = answer.json()
    assert len(job["id"]) == 32 and job["url"] == "/api/jobs/" + job["id"]
    state = wait_for_job(video_server, job["id"])
    assert state["state"] == "done", state
    assert state["frames_done"] == state["frames_total"] == FRAMES
    with urllib.request.urlopen(video_server.url + state["result"], timeout=60) as response:
        body = response.read()
        container = fields.get("container", "mp4")
        assert response.headers["Content-Type"] == {
            "mp4": "video/mp4", "mkv": "video/x-matroska", "webm": "video/webm"}[container]
        assert int(response.headers["Content-Length"]) == len(body) == state["result_bytes"]
    result = tmp_path / f"result.{container}"
    result.write_bytes(body)
    video, audio, _ = vs.probe(str(result))
    assert int(video["nb_read_frames"]) == FRAMES
    assert vs.rate(video)[0] == RATE
    assert (int(video["width"]), int(video["height"])) == (vs.SIZE * scale, vs.SIZE * scale)
    assert len(audio) == 1
    # Deleting the finished job takes its result at once.
    assert delete(video_server, "/api/jobs/" + job["id"]) == (200, {"id": job["id"], "state": "deleted"})
    assert video_server.get("/api/jobs/" + job["id"]).status == 404
    assert spool_files(video_server) == []


def test_a_result_is_served_in_byte_ranges(video_server, clip):
    job = post_video(video_server, "enhance", {"video": ("clip.mp4", clip)}).json()
    state = wait_for_job(video_server, job["id"])
    whole = video_server.get(state["result"]).body
    size = len(whole)
    # (Range, status, first byte, end) of the answer.
    for byte_range, status, start, end in [
            ("bytes=100-1099", 206, 100, 1100),
            ("bytes=-64", 206, size - 64, size),
            (f"bytes={size - 10}-", 206, size - 10, size),
            (f"bytes={size - 10}-{size + 5000}", 206, size - 10, size),  # cut to the end
            ("bytes=-999999999", 206, 0, size),
            ("bytes=0-9,20-29", 200, 0, size),  # several: the whole file
            (f"bytes={size}-", 416, None, None),
            ("bytes=-0", 416, None, None)]:
        answer_status, headers, body = get_range(video_server, state["result"], byte_range)
        assert answer_status == status, byte_range
        if status == 416:
            assert headers["Content-Range"] == f"bytes */{size}"
            continue
        if status == 206:
            assert headers["Content-Range"] == f"bytes {start}-{end - 1}/{size}", byte_range
        assert int(headers["Content-Length"]) == end - start
        assert body == whole[start:end], byte_range
    health = video_server.health()["video"]
    assert health["spool"]["used_bytes"] == size
    delete(video_server, "/api/jobs/" + job["id"])
    assert video_server.health()["video"]["spool"]["used_bytes"] == 0


def test_cancelling_a_running_job_leaves_the_spool_empty(video_server, clip):
    # Four times the pixels, with restored faces: long enough to be caught running.
    job = post_video(video_server, "upscale", {"video": ("clip.mp4", clip), "scale": "4"}).json()
    state = wait_for_job(video_server, job["id"], states=("running", "done"))
    assert state["state"] == "running", "the job ended before it could be cancelled"
    assert delete(video_server, "/api/jobs/" + job["id"]) == (200, {"id": job["id"], "state": "cancelled"})
    assert spool_files(video_server) == []
    state = job_state(video_server, job["id"])
    assert state["state"] == "cancelled" and state["frames_done"] < FRAMES
    assert video_server.get(f"/api/jobs/{job['id']}/result").status == 409
    assert delete(video_server, "/api/jobs/" + job["id"])[0] == 200
    assert video_server.health()["video"]["running"] == 0


def raw_upload(url, body, content_type, declared):
    """Sends a video form on a raw socket, with or without Content-Length
    (then chunked); (status, answer)."""
    host, port = address(url)
    framing = f"Content-Length: {len(body)}\r\n" if declared else "Transfer-Encoding: chunked\r\n"
    head = (f"POST /api/videos/enhance HTTP/1.1\r\nHost: {host}:{port}\r\n"
            f"Content-Type: {content_type}\r\n{framing}\r\n").encode()
    with socket.create_connection((host, port), timeout=10) as sock:
        sock.sendall(head)
        try:
            for at in range(0, len(body), 65536):
                piece = body[at:at + 65536]
                sock.sendall(piece if declared else b"%x\r\n%s\r\n" % (len(piece), piece))
            if not declared:
                sock.sendall(b"0\r\n\r\n")
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused before the end: the answer is waiting
        status, _, answer = read_answer(sock)
    return status, answer


def test_refused_uploads_make_no_job_and_leave_nothing(video_server, clip, pictures):
    _, images = pictures
    truncated = clip[:len(clip) // 3]
    oversized = clip + b"\0" * (VIDEO_LIMIT_MB << 20)
    cases = [
        ({"video": ("clip.mp4", images["source"])}, 415),           # a picture named .mp4
        ({"video": ("clip.mp4", b"\0" * 5000)}, 415),                # no video at all
        ({"video": ("clip.mp4", clip), "container": "webm", "codec": "libx264"}, 400),
        ({"video": ("clip.mp4", clip), "crf": "52"}, 400),
        ({"video": ("clip.mp4", clip), "smoothing": "1.5"}, 400),
        ({"blend": "50"}, 400),                                      # no video
    ]
    for fields, status in cases:
        answer = post_video(video_server, "enhance", fields)
        assert answer.status == status, (fields.keys(), answer.body)
        assert "error" in answer.json()
    assert post_video(video_server, "swap", {"video": ("clip.mp4", clip)}).status == 400
    assert post_video(video_server, "swap", {"video": ("clip.mp4", clip),
                                             "source": ("face.png", b"not a picture")}).status == 415
    # A truncated video may pass the look before the run: its job fails then.
    answer = post_video(video_server, "enhance", {"video": ("clip.mp4", truncated)})
    if answer.status == 202:
        assert wait_for_job(video_server, answer.json()["id"])["state"] == "failed"
        delete(video_server, "/api/jobs/" + answer.json()["id"])
    else:
        assert answer.status == 415
    data, content_type = multipart({"video": ("big.mp4", oversized)})
    for declared in (True, False):
        status, body = raw_upload(video_server.url, data, content_type, declared)
        assert status == 413, body
    assert wait_until_empty(video_server) == []
    health = video_server.health()["video"]
    assert (health["running"], health["queued"], health["uploading"], health["kept"]) == (0, 0, 0, 0)
    assert health["spool"]["used_bytes"] == 0


def test_a_client_that_stops_sending_halfway_leaves_nothing(video_server, clip):
    data, content_type = multipart({"video": ("clip.mp4", clip)})
    host, port = address(video_server.url)
    head = (f"POST /api/videos/enhance HTTP/1.1\r\nHost: {host}:{port}\r\n"
            f"Content-Type: {content_type}\r\nContent-Length: {len(data)}\r\n\r\n").encode()
    with socket.create_connection((host, port), timeout=10) as sock:
        sock.sendall(head + data[:len(data) // 2])
        video_server.wait_for(lambda health: health["video"]["uploading"] == 1)
    video_server.wait_for(lambda health: health["video"]["uploading"] == 0)
    assert wait_until_empty(video_server) == []


def test_a_full_queue_answers_429(video_server, clip):
    jobs = [post_video(video_server, "upscale", {"video": ("clip.mp4", clip), "scale": "4"})
            for _ in range(2)]
    assert [answer.status for answer in jobs] == [202, 202]
    assert post_video(video_server, "enhance", {"video": ("clip.mp4", clip)}).status == 429
    health = video_server.health()["video"]
    assert (health["limit"], health["queue"]) == (1, 1)
    assert health["running"] + health["queued"] == 2
    for answer in reversed(jobs):
        assert delete(video_server, "/api/jobs/" + answer.json()["id"])[1]["state"] == "cancelled"
    assert wait_until_empty(video_server) == []


def spool_of(tmp_dir):
    """The per-server folders under a spool place."""
    return sorted(os.path.join(folder, name) for folder, dirs, _ in os.walk(tmp_dir)
                  for name in dirs if name.startswith("server-"))


def test_a_killed_servers_spool_is_removed_by_the_next_and_a_living_ones_is_not_and_results_expire(
        cli, demo_models, tmp_path, clip):
    place = tmp_path / "spool"
    place.mkdir()
    args = ("--spool", str(place), "--video-queue", "2")
    killed, living = (Server(cli, demo_models, tmp_path, *args) for _ in range(2))
    try:
        for server in (killed, living):
            answer = post_video(server, "upscale", {"video": ("clip.mp4", clip), "scale": "4"})
            assert answer.status == 202, answer.body
        assert len(spool_of(place)) == 2
        killed.process.send_signal(signal.SIGKILL)
        killed.process.wait(30)
        leftover = [folder for folder in spool_of(place) if os.listdir(folder)]
        assert len(leftover) == 2, "the killed server's folder should still be there"
        # The next server: a spool of 1 MB, results kept for a second, no colorizer.
        models = tmp_path / "no-colorizer"
        models.mkdir()
        for name in os.listdir(demo_models):
            if name != "ddcolor.onnx":
                os.symlink(os.path.join(demo_models, name), models / name)
        after = Server(cli, models, tmp_path, *args, "--spool-gb", "0.001",
                       "--keep-minutes", "0.02")
        try:
            assert len(spool_of(place)) == 1, "only the living server's folder stays"
            answer = post_video(after, "colorize", {"video": ("clip.mp4", clip)})
            assert answer.status == 503 and "ddcolor.onnx" in answer.json()["error"]
            over_spool = multipart({"video": ("big.mp4", clip + b"\0" * (2 << 20))})
            for declared in (True, False):
                assert raw_upload(after.url, *over_spool, declared)[0] == 507
            job = post_video(after, "enhance", {"video": ("clip.mp4", clip)}).json()
            assert wait_for_job(after, job["id"])["state"] == "done"
            deadline = time.monotonic() + 30
            while after.get("/api/jobs/" + job["id"]).status != 404:
                assert time.monotonic() < deadline, "the result was not deleted in time"
                time.sleep(0.1)
            assert after.health()["video"]["spool"]["used_bytes"] == 0
        finally:
            assert after.stop() == 0
        # Shutdown cancels the running job and removes the spool.
        assert living.stop() == 0, "".join(living.lines)
        assert os.listdir(place) == []
    finally:
        for server in (killed, living):
            if server.process.poll() is None:
                server.process.kill()


@pytest.mark.parametrize("signals", [[signal.SIGTERM], [signal.SIGTERM, signal.SIGINT]])
def test_stopping_cancels_the_running_job_and_removes_the_spool(cli, demo_models, tmp_path, clip, signals):
    """One signal stops after cancelling; a second quits at once (130) unless
    the first was done already: the spool goes either way."""
    server = Server(cli, demo_models, tmp_path)
    try:
        job = post_video(server, "upscale", {"video": ("clip.mp4", clip), "scale": "4"}).json()
        wait_for_job(server, job["id"], states=("running",))
        for number in signals:
            server.process.send_signal(number)
        assert server.process.wait(60) in ((0, 130) if len(signals) > 1 else (0,))
        assert server.left_in_tmp() == []
    finally:
        if server.process.poll() is None:
            server.process.kill()


def test_without_ffmpeg_video_jobs_are_unavailable_before_any_upload(
        cli, demo_models, tmp_path, clip, monkeypatch):
    monkeypatch.setenv("PATH", str(tmp_path))  # no ffmpeg on it
    (tmp_path / "tmp").mkdir()
    server = Server(cli, demo_models, tmp_path / "tmp")
    try:
        video = server.health()["video"]
        assert video["available"] is False and "ffmpeg" in video["problem"]
        answer = post_video(server, "enhance", {"video": ("clip.mp4", clip)})
        assert answer.status == 503 and "ffmpeg" in answer.json()["error"]
        assert server.left_in_tmp() == []
    finally:
        assert server.stop() == 0
