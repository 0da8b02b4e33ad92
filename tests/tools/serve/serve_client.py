"""What the server tests share: a running `brightloom serve` process, a small
HTTP client (standard library only) and the demo's cartoon-face images."""
import io
import json
import os
import re
import socket
import signal
import subprocess
import threading
import time
import urllib.error
import urllib.request
import uuid

from PIL import Image

SIZE = 320
FACE = 32  # the stand-in detector finds a bright square a tenth of the image wide
DARK = (20, 22, 34)


def face_png(colour, size=SIZE):
    """A dark picture with one face square of `colour` in the middle."""
    image = Image.new("RGB", (size, size), DARK)
    half = FACE * size // SIZE // 2
    centre = size // 2
    image.paste(colour, (centre - half, centre - half, centre + half, centre + half))
    return png_bytes(image)


def plain_png(size=SIZE, colour=DARK):
    return png_bytes(Image.new("RGB", (size, size), colour))


def png_bytes(image):
    out = io.BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


def pixels(data):
    return Image.open(io.BytesIO(data)).convert("RGB")


def centre_colour(data):
    image = pixels(data)
    return image.getpixel((image.width // 2, image.height // 2))


class Answer:
    def __init__(self, status, content_type, body):
        self.status, self.content_type, self.body = status, content_type, body

    def json(self):
        return json.loads(self.body)


def multipart(fields):
    """fields: name -> bytes (a file part) or str (a text part), or
    name -> (file name, bytes)."""
    boundary = uuid.uuid4().hex
    body = io.BytesIO()
    for name, value in fields.items():
        body.write(f"--{boundary}\r\n".encode())
        if isinstance(value, str):
            body.write(f'Content-Disposition: form-data; name="{name}"\r\n\r\n{value}\r\n'.encode())
            continue
        filename, data = value if isinstance(value, tuple) else (name + ".png", value)
        body.write(f'Content-Disposition: form-data; name="{name}"; filename="{filename}"\r\n'
                   "Content-Type: application/octet-stream\r\n\r\n".encode())
        body.write(data + b"\r\n")
    body.write(f"--{boundary}--\r\n".encode())
    return body.getvalue(), f"multipart/form-data; boundary={boundary}"


def request(url, data=None, content_type=None, timeout=120):
    headers = {"Content-Type": content_type} if content_type else {}
    try:
        with urllib.request.urlopen(urllib.request.Request(url, data=data, headers=headers),
                                    timeout=timeout) as response:
            return Answer(response.status, response.headers.get_content_type(), response.read())
    except urllib.error.HTTPError as error:
        return Answer(error.code, error.headers.get_content_type(), error.read())


class Server:
    """`brightloom serve --port 0` with the given arguments and `tmp_dir` (an
    empty folder) as its TMPDIR."""

    def __init__(self, cli, models, tmp_dir, *args):
        self.tmp_dir = tmp_dir
        env = dict(os.environ, TMPDIR=str(tmp_dir))
        env.pop("BRIGHTLOOM_MODELS", None)
        self.process = subprocess.Popen([cli, "-m", str(models), "serve", "--port", "0", *args],
                                        stderr=subprocess.PIPE, text=True, env=env)
        self.lines = []
        ready = threading.Event()

        def read_log():
            for line in self.process.stderr:
                self.lines.append(line)
                match = re.search(r"serving on (http://127\.0\.0\.1:\d+)/", line)
                if match:
                    self.url = match.group(1)
                    ready.set()
            ready.set()

        self.reader = threading.Thread(target=read_log, daemon=True)
        self.reader.start()
        if not ready.wait(120) or not hasattr(self, "url"):
            self.process.kill()
            raise AssertionError("server did not start:\n" + "".join(self.lines))

    def post(self, operation, fields, timeout=120):
        data, content_type = multipart(fields)
        return request(f"{self.url}/api/{operation}", data, content_type, timeout)

    def get(self, path):
        return request(self.url + path)

    def health(self):
        return self.get("/api/health").json()

    def wait_for(self, condition, seconds=60.0):
        deadline = time.monotonic() + seconds
        while not condition(self.health()):
            if time.monotonic() > deadline:
                raise AssertionError("timed out; last health: " + json.dumps(self.health()))
            time.sleep(0.02)

    def left_in_tmp(self):
        """Everything under the server's TMPDIR: no request writes a file."""
        return sorted(os.path.join(folder, name) for folder, dirs, files in os.walk(self.tmp_dir)
                      for name in dirs + files)

    def stop(self, timeout=120):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout)
        self.reader.join(10)
        return code


def address(url):
    host, port = url[len("http://"):].split(":")
    return host, int(port)


def read_answer(sock, seconds=10.0):
    """Reads until the server closes: (status, headers, body); status 0 when
    the connection ended without an answer."""
    sock.settimeout(seconds)
    data = b""
    try:
        while len(data) < 1 << 20:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, socket.timeout):
        pass
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    if not lines[0].startswith("HTTP/1.1 "):
        return 0, {}, data
    headers = dict(line.split(": ", 1) for line in lines[1:] if ": " in line)
    return int(lines[0].split()[1]), headers, body
