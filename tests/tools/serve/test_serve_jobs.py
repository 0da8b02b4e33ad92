"""`brightloom serve --jobs 2`: jobs run side by side on one engine, give
what the same jobs give one after another, the queue in front refuses when
full, and /api/detect answers the faces as the detect command does."""
import json
import threading

import pytest

from serve_client import Server, face_png, plain_png

# Four times the pixels of the other modules' slow job, so that a third
# request finds both slots still taken.
SLOW = plain_png(1024)


@pytest.fixture(scope="module")
def two_jobs(cli, demo_models, tmp_path_factory):
    server = Server(cli, demo_models, tmp_path_factory.mktemp("jobs-tmp"), "--jobs", "2", "--queue", "1")
    yield server
    assert server.stop() == 0, "".join(server.lines)
    assert server.left_in_tmp() == []


def in_threads(calls):
    """Runs each call on its own thread; their results in order."""
    results = [None] * len(calls)

    def call(i):
        results[i] = calls[i]()

    threads = [threading.Thread(target=call, args=(i,)) for i in range(len(calls))]
    for thread in threads:
        thread.start()
    return threads, results


def test_two_slow_jobs_overlap_and_a_third_waits(two_jobs, pictures):
    _, images = pictures
    health = two_jobs.health()
    assert health["jobs"] == {"running": 0, "queued": 0, "limit": 2}
    slow = lambda: two_jobs.post("upscale", {"image": SLOW, "scale": "4"})
    threads, answers = in_threads([slow, slow])
    # Both run at once: the health report sees them together.
    two_jobs.wait_for(lambda h: h["jobs"]["running"] == 2)
    more, waiting = in_threads([slow])
    two_jobs.wait_for(lambda h: h["jobs"]["queued"] == 1)
    refused = two_jobs.post("swap", {"source": images["source"], "target": images["target"]})
    assert refused.status == 429
    for thread in threads + more:
        thread.join(300)
    assert [a.status for a in answers + waiting] == [200, 200, 200]
    assert answers[0].body == answers[1].body == waiting[0].body
    assert two_jobs.health()["jobs"] == {"running": 0, "queued": 0, "limit": 2}


def test_jobs_side_by_side_give_the_serial_results(two_jobs, pictures):
    _, images = pictures
    requests = [("swap", {"source": face_png((255, 40 * i, 90)), "target": images["target"], "blur": "0.5"})
                for i in range(3)]
    requests += [("enhance", {"image": images["target"], "blend": "40"}),
                 ("colorize", {"image": images["target"], "format": "jpg"}),
                 ("detect", {"image": images["target"], "embedding": "true"})]
    serial = [two_jobs.post(op, fields) for op, fields in requests]
    # Two at a time, three waves; --queue 1 leaves no room for more.
    parallel = []
    for wave in range(0, len(requests), 2):
        threads, answers = in_threads([lambda r=r: two_jobs.post(*r) for r in requests[wave:wave + 2]])
        for thread in threads:
            thread.join(300)
        parallel += answers
    for (op, _), one, other in zip(requests, serial, parallel):
        assert (one.status, other.status) == (200, 200), op
        assert one.body == other.body, op


def test_detect_answers_the_detect_commands_json(cli, run, photo_detector, tmp_path):
    photos, models = photo_detector
    names = ["single_astronaut_pd.png", "dlib_voc_2008_001322.jpg", "noface_coffee_cc0.png"]
    server = Server(cli, models, tmp_path, "--jobs", "1")
    try:
        for name in names:
            with open(f"{photos}/{name}", "rb") as photo:
                answer = server.post("detect", {"image": photo.read()})
            assert (answer.status, answer.content_type) == (200, "application/json"), answer.body
            command = run("-q", "-m", models, "detect", "--json", f"{photos}/{name}")
            expected = json.loads(command.stdout)
            del expected["image"]
            assert answer.json() == expected, name
        refused = server.post("detect", {"image": b"\x89PNG\r\n\x1a\n", "embedding": "true"})
        assert (refused.status, refused.json()) == (
            503, {"error": "detect is not available: the model directory has no arcface_w600k_r50.onnx"})
        assert server.post("detect", {"image": b"not a picture"}).status == 415
        assert server.post("detect", {"image": b"x", "embedding": "yes"}).status == 400
    finally:
        assert server.stop() == 0
