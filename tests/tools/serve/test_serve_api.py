"""`brightloom serve` driven over HTTP: the answers match the one-shot
commands, every error has its status, and the queue, the uploads and the
shutdown behave under load and misuse."""
import os
import socket
import threading

import pytest

from serve_client import Server, centre_colour, face_png, multipart, pixels, plain_png, request


def one_shot(run, models, args, output):
    result = run("-q", "-m", models, *args)
    assert result.returncode == 0, result.stderr
    return pixels(output.read_bytes())


# operation, form fields besides the images, global options, subcommand and
# its options for the same job (None marks where input and output go).
SAME_AS_ONE_SHOT = [
    ("swap", {"blur": "0.6", "padding": "5"}, ["--mask-blur", "0.6", "--mask-padding", "5", "5", "5", "5"],
     ["swap"]),
    ("swap", {"format": "jpg"}, [], ["swap"]),
    ("blend", {"padding": "0, 10, 0, 10"}, ["--mask-padding", "0", "10", "0", "10"], ["blend"]),
    ("enhance", {"blend": "50"}, ["--enhancer-blend", "0.5"], ["enhance"]),
    ("colorize", {"blend": "60"}, [], ["colorize", None, "--blend", "60"]),
    ("upscale", {"scale": "4", "blend": "70"}, [], ["upscale", None, "--scale", "4", "--blend", "70"]),
]


@pytest.mark.parametrize("operation, fields, options, command", SAME_AS_ONE_SHOT)
def test_each_operation_gives_the_one_shot_commands_pixels(server, run, demo_models, pictures, tmp_path,
                                                            operation, fields, options, command):
    folder, images = pictures
    swapping = operation in ("swap", "blend")
    inputs = ["source", "target"] if swapping else ["target"]
    names = ["source", "target"] if swapping else ["image"]
    answer = server.post(operation, {**{n: images[i] for n, i in zip(names, inputs)}, **fields})
    assert answer.status == 200, answer.body
    extension = fields.get("format", "png")
    assert answer.content_type == ("image/png" if extension == "png" else "image/jpeg")

    output = tmp_path / f"out.{extension}"
    files = [str(folder / f"{i}.png") for i in inputs] + [str(output)]
    args = [command[0], *files, *[a for a in command[1:] if a is not None]]
    expected = one_shot(run, demo_models, options + args, output)
    assert pixels(answer.body).tobytes() == expected.tobytes()


def test_request_settings_never_reach_the_next_request(server, run, demo_models, pictures, tmp_path):
    folder, images = pictures
    changed = {"blur": "1", "padding": "40"}
    assert server.post("swap", {"source": images["source"], "target": images["target"], **changed}).status == 200
    failed = server.post("swap", {"source": images["source"], "target": images["faceless"], **changed})
    assert failed.status == 422
    assert server.post("enhance", {"image": images["target"], "blend": "0"}).status == 200

    plain_swap = server.post("swap", {"source": images["source"], "target": images["target"]})
    plain_enhance = server.post("enhance", {"image": images["target"]})
    out = tmp_path / "out.png"
    assert pixels(plain_swap.body).tobytes() == one_shot(
        run, demo_models, ["swap", folder / "source.png", folder / "target.png", out], out).tobytes()
    assert pixels(plain_enhance.body).tobytes() == one_shot(
        run, demo_models, ["enhance", folder / "target.png", out], out).tobytes()


def test_errors_are_json_with_the_status_that_says_why(server, pictures):
    _, images = pictures
    source, target, faceless = images["source"], images["target"], images["faceless"]
    noise = os.urandom(1536 * 1024)
    cases = [
        ("swap", {"source": source}, 400, "Missing image: target"),
        ("swap", {"source": source, "target": target, "blur": "soft"}, 400,
         "Field blur must be a number from 0 to 1"),
        ("swap", {"source": source, "target": target, "padding": "1 2"}, 400,
         "Field padding must be one or four whole percentages from 0 to 100 (top right bottom left)"),
        ("upscale", {"image": target, "scale": "3"}, 400, "Field scale must be one of: 2, 4"),
        ("enhance", {"image": target, "format": "gif"}, 400, "Field format must be one of: png, jpg"),
        ("swap", {"source": source, "target": b"GIF89a but not really"}, 415,
         "Failed to load target image: target"),
        ("colorize", {"image": b"\x89PNG\r\n\x1a\n broken"}, 415, "Failed to load image: image"),
        ("swap", {"source": faceless, "target": target}, 422, "No face detected in source image"),
        ("enhance", {"image": faceless}, 422, "No face detected in image"),
        ("enhance", {"image": noise}, 413, "Upload too large: the limit is 1 MB"),
    ]
    for operation, fields, status, message in cases:
        answer = server.post(operation, fields)
        assert (answer.status, answer.content_type) == (status, "application/json"), (operation, answer.body)
        assert answer.json() == {"error": message}

    # Header lines are capped one by one by the HTTP library; their total here.
    host, port = server.url[len("http://"):].split(":")
    with socket.create_connection((host, int(port)), timeout=60) as flood:
        headers = b"".join(b"X-Filler-%d: %s\r\n" % (i, b"x" * 40) for i in range(1000))
        flood.sendall(b"GET /api/health HTTP/1.1\r\nHost: here\r\n" + headers + b"\r\n")
        assert flood.recv(100).startswith(b"HTTP/1.1 431 ")

    not_a_form = request(server.url + "/api/swap", b'{"source": "a.png"}', "application/json")
    assert (not_a_form.status, not_a_form.json()) == (400, {"error": "Send the images as multipart/form-data"})
    assert server.get("/api/nothing").status == 404


def test_twenty_requests_at_once_are_answered_in_turn_or_refused(server, pictures):
    _, images = pictures
    colours = [(255, 12 * i, 60) for i in range(20)]
    bodies = [multipart({"source": face_png(c), "target": images["target"]}) for c in colours]
    answers = [None] * len(colours)

    # A slow job first, so that all twenty arrive while it runs.
    slow = threading.Thread(target=lambda: server.post("upscale", {"image": images["big"], "scale": "4"}))
    slow.start()
    server.wait_for(lambda h: h["queue"]["running"] == 1)
    start = threading.Barrier(len(colours))

    def send(i):
        start.wait()
        answers[i] = request(server.url + "/api/swap", *bodies[i])

    threads = [threading.Thread(target=send, args=(i,)) for i in range(len(colours))]
    for thread in threads:
        thread.start()
    for thread in threads + [slow]:
        thread.join(300)

    statuses = [a.status for a in answers]
    assert set(statuses) <= {200, 429}, statuses
    assert statuses.count(200) >= 8 and statuses.count(429) >= 1, statuses
    for colour, answer in zip(colours, answers):
        if answer.status == 200:
            got = centre_colour(answer.body)
            closest = min(colours, key=lambda c: sum((a - b) ** 2 for a, b in zip(c, got)))
            assert closest == colour, (colour, got)
        else:
            assert "too many requests are waiting" in answer.json()["error"]
    assert server.health()["queue"] == {"running": 0, "waiting": 0, "capacity": 8}


def test_a_client_that_leaves_while_waiting_loses_its_place(server, pictures):
    _, images = pictures
    slow = threading.Thread(target=lambda: server.post("upscale", {"image": images["big"], "scale": "4"}))
    slow.start()
    server.wait_for(lambda h: h["queue"]["running"] == 1)

    body, content_type = multipart({"source": images["source"], "target": images["target"]})
    host, port = server.url[len("http://"):].split(":")
    leaving = socket.create_connection((host, int(port)))
    leaving.sendall(f"POST /api/swap HTTP/1.1\r\nHost: {host}:{port}\r\nContent-Type: {content_type}\r\n"
                    f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
    server.wait_for(lambda h: h["queue"]["waiting"] == 1)
    answers = []
    staying = threading.Thread(target=lambda: answers.append(server.post("swap", {
        "source": images["source"], "target": images["target"]})))
    staying.start()
    server.wait_for(lambda h: h["queue"]["waiting"] == 2)
    leaving.close()
    server.wait_for(lambda h: h["queue"]["waiting"] <= 1)
    staying.join(120)
    slow.join(120)
    assert answers[0].status == 200


def test_no_request_writes_a_file(server, pictures, tmp_path):
    _, images = pictures
    for name in ("../../escaped.png", "/tmp/escaped-too.png", "..", "a/../../../escaped.png"):
        answer = server.post("swap", {"source": (name, images["source"]), "target": (name, images["target"])})
        assert answer.status == 200
    assert server.post("detect", {"image": images["target"]}).status == 200
    assert server.post("colorize", {"image": images["target"], "format": "jpg"}).status == 200
    assert server.left_in_tmp() == []
    for top in (tmp_path.parent, "/tmp"):
        for folder, _, files in os.walk(top):
            assert not any(f.startswith("escaped") for f in files), folder


def test_sigterm_finishes_the_running_job_and_exits_0(cli, demo_models, pictures, tmp_path):
    _, images = pictures
    server = Server(cli, demo_models, tmp_path, "--jobs", "1")
    answers = {}
    slow = threading.Thread(target=lambda: answers.update(
        slow=server.post("upscale", {"image": images["big"], "scale": "4"})))
    slow.start()
    server.wait_for(lambda h: h["queue"]["running"] == 1)
    waiting = threading.Thread(target=lambda: answers.update(
        waiting=server.post("swap", {"source": images["source"], "target": images["target"]})))
    waiting.start()
    server.wait_for(lambda h: h["queue"]["waiting"] == 1)

    assert server.stop() == 0, "".join(server.lines)
    slow.join(60)
    waiting.join(60)
    assert answers["slow"].status == 200
    assert pixels(answers["slow"].body).size == (2048, 2048)
    assert (answers["waiting"].status, answers["waiting"].json()) == (
        503, {"error": "The server is shutting down"})
    assert server.left_in_tmp() == []
    assert "brightloom: stopped\n" in server.lines


def test_operations_without_their_models_answer_503(cli, models_dir, tmp_path):
    models_dir = os.path.abspath(models_dir)
    models = tmp_path / "models"
    models.mkdir()
    # No swapping models, no restorer, no x2 upscaler; a colorizer and an x4
    # upscaler that are there but do not load.
    links = {"scrfd_2.5g.onnx": "detect/scrfd_2.5g.onnx", "ddcolor.onnx": "broken/not_onnx.onnx",
             "real_esrgan_x4.onnx": "broken/not_onnx.onnx"}
    for name, target in links.items():
        os.symlink(os.path.join(models_dir, target), models / name)
    server = Server(cli, models, tmp_path)
    try:
        assert any("warning: face swapping is off" in line for line in server.lines)
        health = server.health()
        assert health["operations"] == {"swap": False, "blend": False, "enhance": False, "colorize": True,
                                        "upscale": True, "detect": True}
        assert health["upscale_scales"] == [4]
        face = face_png((255, 200, 150))
        missing = "is not available: the model directory has no "
        cases = [
            ("swap", {"source": face, "target": face}, 503, "swap " + missing + "arcface_w600k_r50.onnx"),
            ("enhance", {"image": face}, 503, "enhance " + missing + "gfpgan_1.4.onnx"),
            ("upscale", {"image": face}, 503, "upscale " + missing + "real_esrgan_x2.onnx"),
            ("upscale", {"image": face, "scale": "4"}, 503, "Failed to load frame enhancer: real_esrgan_x4.onnx"),
            # Opened with the engine and refused there: the file is in the
            # listing, so only the library can tell.
            ("colorize", {"image": face}, 503,
             "Colorization failed: no colorizer (ddcolor.onnx) in the model directory"),
        ]
        for operation, fields, status, message in cases:
            answer = server.post(operation, fields)
            assert (answer.status, answer.json()) == (status, {"error": message}), operation
    finally:
        assert server.stop() == 0


OPENED_APART = ("is not available: the recognizer opens only together with the swapper, and they did not "
                "open: Failed to load face swapper: uniface_256.onnx")


@pytest.mark.parametrize("swapper, blend", [
    (None, "blend is not available: the model directory has no uniface_256.onnx"),
    ("broken/not_onnx.onnx", "blend " + OPENED_APART),
])
def test_embeddings_without_the_swapper_say_why(cli, models_dir, tmp_path, swapper, blend):
    # The recognizer is there, but the engine opens it only with the swapper.
    models_dir = os.path.abspath(models_dir)
    models = tmp_path / "models"
    models.mkdir()
    for name in ("scrfd_2.5g.onnx", "arcface_w600k_r50.onnx"):
        os.symlink(os.path.join(models_dir, "detect", name), models / name)
    if swapper:
        os.symlink(os.path.join(models_dir, swapper), models / "uniface_256.onnx")
    server = Server(cli, models, tmp_path)
    try:
        health = server.health()
        assert (health["operations"]["detect"], health["operations"]["blend"], health["embedding"]) == (
            True, False, False)
        face = face_png((255, 200, 150))
        assert server.post("detect", {"image": face}).status == 200
        for operation, fields, message in [
                ("detect", {"image": face, "embedding": "true"}, "detect with embedding=true " + OPENED_APART),
                ("blend", {"source": face, "target": face}, blend)]:
            answer = server.post(operation, fields)
            assert (answer.status, answer.json()) == (503, {"error": message}), operation
    finally:
        assert server.stop() == 0
