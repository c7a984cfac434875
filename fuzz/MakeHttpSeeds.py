#!/usr/bin/env python3
"""Writes the seed corpus of zeb view's HTTP harness: each seed is a byte saying how the rest
arrives (in pieces of 1 to 64 bytes) and then requests as a page, a script, a page of another site
or a broken client sends them, one after the other on one connection."""
import os
import sys

folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "http-corpus")
os.makedirs(folder, exist_ok=True)


def request(method, target, body=b"", headers=()):
    lines = [f"{method} {target} HTTP/1.1", "Host: 127.0.0.1:8177", *headers]
    if body or method in ("PUT", "POST"):
        lines.append(f"Content-Length: {len(body)}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


page = ("X-Zeb-Client: page1", "Sec-Fetch-Site: same-origin")
script = ("X-Zeb-Script: 1",)
foreign = ("Sec-Fetch-Site: cross-site", "Origin: http://evil.example")
seeds = {
    "page": request("GET", "/") + request("GET", "/viewer.js") + request("GET", "/api/channels", headers=page),
    "features": request("GET", "/api/channels/0/features", headers=page)
    + request("GET", "/api/channels/1/features/ExposureTime"),
    "write": request("PUT", "/api/channels/0/features/ExposureTime", b"80", script)
    + request("PUT", "/api/channels/0/features/LightingOrientation", b"90 deg", page)
    + request("PUT", "/api/channels/1/features/Gain", b"sideways", script),
    "command": request("POST", "/api/channels/0/commands/DeviceImageSourceDetect", headers=script)
    + request("POST", "/api/channels/0/commands/Gain", headers=script),
    "acquire": request("POST", "/api/channels/0/acquisition/start", headers=page)
    + request("GET", "/api/channels/0/status?since=0&wait=5000", headers=page)
    + request("GET", "/api/channels/0/image.png?form=direction2&scale=4", headers=page)
    + request("POST", "/api/channels/0/save", headers=script)
    + request("POST", "/api/channels/0/acquisition/stop", headers=page),
    "line": request("POST", "/api/channels/1/acquisition/start", headers=script)
    + request("GET", "/api/channels/1/image.png?form=average&scale=16")
    + request("POST", "/api/channels/1/acquisition/stop", headers=script),
    "assistant": request("POST", "/api/channels/0/assistant/start", b"brightness", page)
    + request("GET", "/api/channels/0/assistant", headers=page)
    + request("POST", "/api/channels/0/assistant/next", headers=page)
    + request("POST", "/api/channels/0/assistant/stop", headers=page),
    "close": request("POST", "/api/clients/page1/close", headers=page),
    "foreign": request("POST", "/api/channels/0/acquisition/start", headers=foreign)
    + request("GET", "/api/channels/0/status?since=0&wait=5000", headers=("Sec-Fetch-Site: same-site",))
    + request("PUT", "/api/channels/0/features/ExposureTime", b"77"),
    "hosts": request("GET", "/api/channels", headers=("Host: evil.example",))
    + b"GET /api/channels HTTP/1.1\r\nHost: [::ffff:127.0.0.1]:1\r\n\r\n",
    "chunked": b"PUT /api/channels/0/features/ExposureTime HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Zeb-Script: 1\r\n"
    b"Transfer-Encoding: chunked\r\n\r\n2\r\n60\r\n0\r\n\r\n",
    "codings": b"GET /api/channels HTTP/1.1\r\nTransfer-Encoding: chunked, identity\r\n\r\n"
    + request("PUT", "/api/channels/0/features/ExposureTime", b"77", script),
    "gzip": b"GET / HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n",
    "escapes": request("GET", "/api/channels/0/features/Exposure%54ime?x=%2B&&y")
    + request("GET", "/api/channels/0/features/%zz"),
    "methods": request("DELETE", "/api/channels/0/features/Gain", headers=script)
    + request("OPTIONS", "/api/channels", headers=foreign) + request("get", "/", headers=script),
    "client-ids": request("GET", "/api/channels", headers=("X-Zeb-Client: a b",))
    + request("POST", "/api/clients/a%20b/close", headers=script),
    "limits": b"GET /" + b"a" * 9000 + b" HTTP/1.1\r\n\r\n",
    "http10": b"GET /api/channels HTTP/1.0\r\nConnection: keep-alive\r\n\r\nGET / HTTP/1.0\r\n\r\n",
}
for number, (name, data) in enumerate(sorted(seeds.items())):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(bytes([number * 7 % 64]) + data)
