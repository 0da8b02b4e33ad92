"""Request heads that say two things at once, and Content-Types written in
another case: each head gets its status, and the server goes on serving.
Raw sockets on loopback."""
import socket

import pytest

from serve_client import address, face_png, multipart, read_answer

FACE = face_png((255, 200, 150))
BODY, FORM_TYPE = multipart({"image": FACE})
BOUNDARY = FORM_TYPE.split("boundary=")[1]


def send(url, fields, body=BODY):
    """A POST /api/detect with exactly these header lines ({own} is the
    server's host:port, {length} the body's size); (status, body)."""
    host, port = address(url)
    values = {"own": f"{host}:{port}", "length": len(body), "type": FORM_TYPE}
    head = "POST /api/detect HTTP/1.1\r\n" + "".join(
        f"{name}: {value.format(**values)}\r\n" for name, value in fields) + "\r\n"
    with socket.create_connection((host, port), timeout=30) as sock:
        sock.sendall(head.encode() + body)
        status, _, answer = read_answer(sock, 60)
    return status, answer


PLAIN = [("Host", "{own}"), ("Content-Type", "{type}"), ("Content-Length", "{length}")]

# header lines, status, a piece of the answer
HEADS = [
    (PLAIN + [("Content-Length", "999999999999")], 400, b"Content-Length headers that disagree"),
    (PLAIN + [("content-length", "0")], 400, b"Content-Length headers that disagree"),
    (PLAIN + [("Content-Length", "{length}")], 200, b'"faces"'),
    (PLAIN + [("Host", "evil.example")], 400, b"More than one Host header"),
    (PLAIN + [("HOST", "{own}")], 400, b"More than one Host header"),
    ([("Host", "evil.example")] + PLAIN, 400, b"More than one Host header"),
    (PLAIN + [("Origin", "http://{own}"), ("Origin", "http://evil.example")], 400,
     b"More than one Origin header"),
    (PLAIN + [("Origin", "http://{own}"), ("Origin", "http://{own}")], 400, b"More than one Origin header"),
    (PLAIN + [("Content-Type", "text/plain")], 400, b"More than one Content-Type header"),
    ([("Host", "{own}"), ("Content-Type", "{type}"), ("Transfer-Encoding", "chunked"),
      ("Transfer-Encoding", "gzip")], 501, b"Transfer-Encoding"),
    # Media types and parameter names are case-insensitive; the boundary is not.
    ([("Host", "{own}"), ("Content-Type", "MULTIPART/FORM-DATA; BOUNDARY=" + BOUNDARY),
      ("Content-Length", "{length}")], 200, b'"faces"'),
    ([("Host", "{own}"), ("Content-Type", "Multipart/Form-Data ;boundary=" + BOUNDARY),
      ("Content-Length", "{length}")], 200, b'"faces"'),
    ([("Host", "{own}"), ("Content-Type", "multipart/form-data; Boundary=" + BOUNDARY.upper()),
      ("Content-Length", "{length}")], 400, b"The form could not be read"),
    ([("Host", "{own}"), ("Content-Type", "TEXT/PLAIN"), ("Content-Length", "{length}")], 400,
     b"Send the images as multipart/form-data"),
]


@pytest.mark.parametrize("fields, status, says", HEADS, ids=range(len(HEADS)))
def test_each_head_gets_its_status_and_the_server_goes_on(server, fields, status, says):
    got, answer = send(server.url, fields)
    assert (got, says in answer) == (status, True), answer
    assert server.health()["queue"]["running"] == 0
    got, answer = send(server.url, PLAIN)
    assert (got, b'"faces"' in answer) == (200, True), answer
