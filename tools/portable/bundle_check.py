"""What a user of the command-line bundle does, run with a system's own
python3 (standard library only): swap, detect --json, serve answering
/api/health and one swap on loopback, and a video command on a system
without ffmpeg. The pictures land in OUT_DIR for comparison with the native
tool's (user_check.py compares arrays; the caller compares these files).

    python3 bundle_check.py BUNDLE_DIR MODELS PICTURES OUT_DIR
"""
import json
import os
import re
import select
import signal
import subprocess
import sys
import time
import urllib.request
import uuid


def tool(bundle, *args, **kwargs):
    return subprocess.run([os.path.join(bundle, "bin", "brightloom"), *args], capture_output=True,
                          text=True, timeout=300, **kwargs)


def expect(result, what):
    if result.returncode != 0:
        sys.exit(f"{what} failed ({result.returncode}):\n{result.stdout}{result.stderr}")


def multipart(files):
    boundary = uuid.uuid4().hex
    body = b""
    for name, path in files.items():
        with open(path, "rb") as f:
            data = f.read()
        body += (f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"; '
                 f'filename="{name}.png"\r\nContent-Type: image/png\r\n\r\n').encode() + data + b"\r\n"
    return body + f"--{boundary}--\r\n".encode(), f"multipart/form-data; boundary={boundary}"


def serve(bundle, models, source, target, out):
    server = subprocess.Popen([os.path.join(bundle, "bin", "brightloom"), "-m", models, "serve",
                               "--port", "0"], stderr=subprocess.PIPE, text=True)
    try:
        url, seen, deadline = None, "", time.monotonic() + 120
        while url is None and time.monotonic() < deadline and server.poll() is None:
            if select.select([server.stderr], [], [], 1.0)[0]:
                line = server.stderr.readline()
                seen += line
                match = re.search(r"serving on (http://127\.0\.0\.1:\d+)/", line)
                url = match.group(1) if match else None
        if url is None:
            sys.exit("serve did not start:\n" + seen)
        with urllib.request.urlopen(url + "/api/health", timeout=60) as answer:
            health = json.load(answer)
        print("serve: /api/health", json.dumps(health)[:120])
        body, kind = multipart({"source": source, "target": target})
        request = urllib.request.Request(url + "/api/swap", body, {"Content-Type": kind})
        with urllib.request.urlopen(request, timeout=300) as answer:
            if answer.status != 200 or answer.headers.get_content_type() != "image/png":
                sys.exit(f"serve: swap answered {answer.status} {answer.headers.get_content_type()}")
            with open(os.path.join(out, "serve-swap.png"), "wb") as f:
                f.write(answer.read())
        print("serve: one swap answered")
    finally:
        if server.poll() is None:
            server.send_signal(signal.SIGTERM)
        try:
            code = server.wait(60)
        except subprocess.TimeoutExpired:
            server.kill()
            sys.exit("serve did not stop on SIGTERM")
    if code != 0:
        sys.exit(f"serve exited with {code}")


def main(bundle, models, pictures, out):
    os.makedirs(out, exist_ok=True)
    source, group = (os.path.join(pictures, n) for n in ("source.png", "group.png"))
    expect(tool(bundle, "-q", "-m", models, "swap", source, group, os.path.join(out, "swap.png")),
           "swap")
    print("swap: done")
    detected = tool(bundle, "-q", "-m", models, "detect", "--json", group)
    expect(detected, "detect --json")
    with open(os.path.join(out, "detect.json"), "w") as f:
        f.write(detected.stdout)
    print("detect --json:", len(json.dumps(json.loads(detected.stdout))), "characters of JSON")
    serve(bundle, models, source, group, out)
    # The roots hold no ffmpeg: the video commands must say so.
    video = tool(bundle, "-m", models, "swap-video", source, os.path.join(pictures, "clip.mp4"),
                 os.path.join(out, "clip-out.mp4"))
    if video.returncode == 0 or "ffmpeg" not in video.stderr:
        sys.exit(f"swap-video without ffmpeg answered {video.returncode}:\n{video.stderr}")
    print("swap-video without ffmpeg:", video.stderr.strip().splitlines()[-1])


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
