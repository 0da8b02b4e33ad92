"""Requests per second and latency of a running `brightloom serve` under
1..N parallel clients, each sending the same request in a loop (loopback
only; every loop is bounded by its request count).

    python3 bench/serve_load.py URL OPERATION FIELD=FILE... [--clients 4] [--requests 8]

e.g. URL http://127.0.0.1:8080, OPERATION colorize, FIELD=FILE image=photo.png.
Prints one Markdown table row per client count: clients, requests, seconds,
requests per second, median and 90th-percentile latency."""
import argparse
import statistics
import sys
import threading
import time
import urllib.request
import uuid


def form(files):
    boundary = uuid.uuid4().hex
    body = b""
    for name, path in files.items():
        with open(path, "rb") as f:
            body += (f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"; filename="{name}"\r\n\r\n'
                     .encode() + f.read() + b"\r\n")
    return body + f"--{boundary}--\r\n".encode(), f"multipart/form-data; boundary={boundary}"


def post(url, body, content_type):
    request = urllib.request.Request(url, data=body, headers={"Content-Type": content_type})
    started = time.monotonic()
    with urllib.request.urlopen(request, timeout=600) as response:
        response.read()
        if response.status != 200:
            raise RuntimeError(f"answer {response.status}")
    return time.monotonic() - started


def run(url, body, content_type, clients, per_client):
    latencies = []
    lock = threading.Lock()

    def client():
        for _ in range(per_client):
            took = post(url, body, content_type)
            with lock:
                latencies.append(took)

    threads = [threading.Thread(target=client) for _ in range(clients)]
    started = time.monotonic()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall = time.monotonic() - started
    deciles = statistics.quantiles(latencies, n=10) if len(latencies) > 1 else latencies * 9
    return len(latencies), wall, statistics.median(latencies), deciles[8]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("operation")
    parser.add_argument("files", nargs="+", help="FIELD=FILE")
    parser.add_argument("--clients", type=int, default=4)
    parser.add_argument("--requests", type=int, default=8, help="per client count, shared by its clients")
    args = parser.parse_args()
    body, content_type = form(dict(item.split("=", 1) for item in args.files))
    url = f"{args.url}/api/{args.operation}"
    post(url, body, content_type)  # the first run of each model warms it up
    print("| clients | requests | seconds | requests/s | median s | p90 s |")
    print("|---|---|---|---|---|---|")
    for clients in range(1, args.clients + 1):
        per_client = max(1, args.requests // clients)
        count, wall, median, p90 = run(url, body, content_type, clients, per_client)
        print(f"| {clients} | {count} | {wall:.1f} | {count / wall:.2f} | {median:.2f} | {p90:.2f} |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
