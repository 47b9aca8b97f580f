#!/usr/bin/python3
"""The module's server against curl: status lines, headers, bodies, kept-alive
connections, raw responses that close the connection, forms, files."""

import os
import subprocess
import sys
import tempfile

from vuzozar_peer import Checks, TestServer

VERSION_PREFIX = "Server: Vuzozar "


def curl(*args, data_input=None):
    result = subprocess.run(["curl", "-sS", *args], input=data_input, capture_output=True, check=True)
    return result.stdout


def discarded(*urls):
    """curl arguments that fetch each URL and throw its body away."""
    return [arg for url in urls for arg in ("-o", "/dev/null", url)]


def split_response(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    return lines[0], lines[1:], body


def main(binary):
    checks = Checks()
    with TestServer(binary) as server:
        base = server.base

        status, headers, body = split_response(curl("-i", f"{base}/hello"))
        checks.equal(status, "HTTP/1.1 200 OK", "status line")
        checks.expect("Content-Length: 13" in headers, "content length of /hello")
        checks.expect(any(h.startswith(VERSION_PREFIX) for h in headers), "Server header")
        checks.expect(not any(h.startswith("Connection:") for h in headers), "no keep-alive unasked")
        checks.equal(body, b"Hello, World!", "body of /hello")

        # Several requests on one kept-alive connection: curl reports 0 new
        # connections for every request after the first.
        out = curl("-H", "Connection: keep-alive", "-w", "%{num_connects} %{http_code}\n",
                   *discarded(f"{base}/hello", f"{base}/json", f"{base}/hello"))
        checks.equal(out.decode().split("\n")[:3], ["1 200", "0 200", "0 200"], "connection reuse")
        verbose = subprocess.run(["curl", "-sS", "-v", "-H", "Connection: keep-alive",
                                  f"{base}/hello", f"{base}/hello"],
                                 capture_output=True, text=True)
        checks.expect("Re-using existing connection" in verbose.stderr, "curl reuses the connection")
        checks.expect("< Connection: keep-alive" in verbose.stderr, "keep-alive answered")

        # A raw response has no length and closes the connection, also when
        # keep-alive was asked for: the next request needs a new connection.
        status, headers, body = split_response(curl("-i", "-H", "Connection: keep-alive", f"{base}/raw"))
        checks.equal(status, "HTTP/1.1 200 OK", "raw status")
        checks.expect("XXX-Custom-Header: value" in headers, "raw custom header")
        checks.expect(not any(h.startswith("Content-Length") for h in headers), "raw has no length")
        checks.expect(not any(h.startswith("Connection") for h in headers), "raw is not kept alive")
        checks.equal(body, b"test", "raw body")
        out = curl("-H", "Connection: keep-alive", "-w", "%{num_connects}\n",
                   *discarded(f"{base}/raw", f"{base}/hello"))
        checks.equal(out.decode().split(), ["1", "1"], "a raw response ends its connection")

        body = curl(f"{base}/stream")
        checks.equal(len(body), 1001, "length of the streamed body")
        checks.expect(body.startswith(b"[chunk 0][chunk 1]") and body.endswith(b"[chunk 100]"), "stream chunks")

        status, headers, body = split_response(curl("-i", f"{base}/json"))
        checks.expect("Content-Type: application/json" in headers, "json content type")
        checks.equal(body, b'{"answer":42,"list":[1,"two",null]}', "json body")
        status, headers, body = split_response(curl("-i", f"{base}/html"))
        checks.expect("Content-Type: text/html" in headers, "html content type")
        status, headers, body = split_response(curl("-i", f"{base}/body"))
        checks.equal(body, b'<html><meta charset="UTF-8"><body>Hi</body></html>', "htmlBody")
        checks.expect(not any(h.startswith("Content-Type") for h in headers), "htmlBody has no type")

        # Exactly three lines for a path without a route.
        raw = curl("-i", f"{base}/nothing")
        lines = raw.decode().split("\r\n")
        checks.equal(lines[0], "HTTP/1.1 404 Not Found", "404 status line")
        checks.expect(lines[1].startswith(VERSION_PREFIX) and lines[2:] == ["", ""], f"bare 404: {lines}")

        status, headers, body = split_response(curl("-i", f"{base}/blocked"))
        checks.equal(status, "HTTP/1.1 403 Forbidden", "middleware answers")
        status, headers, body = split_response(curl("-i", f"{base}/bad"))
        checks.equal((status, body), ("HTTP/1.1 400 Bad Request", b"bad input"), "bad request with text")

        status, headers, _ = split_response(curl("-i", f"{base}/redirect"))
        checks.equal(status, "HTTP/1.1 301 Moved Permanently", "permanent redirect")
        checks.expect("Location: /hello" in headers, "redirect location")
        status, _, _ = split_response(curl("-i", f"{base}/temporary"))
        checks.equal(status, "HTTP/1.1 307 Moved Temporarily", "temporary redirect")
        checks.equal(curl("-L", f"{base}/temporary"), b"Hello, World!", "curl follows the redirect")

        checks.equal(curl(f"{base}/params/a%20b"), b"a b", "route parameter is decoded")
        checks.equal(curl(f"{base}/query?x=1+2&y&z=%41"), b"x=1+2;y=;z=%41;", "query kept as sent")
        checks.equal(curl(f"{base}/address"), b"127.0.0.1", "peer address")
        headers_seen = curl("-H", "X-Test:   spaced  ", f"{base}/headers?q").decode()
        checks.expect(headers_seen.startswith("GET /headers\n"), "method and path")
        checks.expect("x-test=spaced\n" in headers_seen, "header names lowercased, values trimmed")

        payload = bytes(range(256)) * 300
        status, headers, body = split_response(
            curl("-i", "-H", "Content-Type: application/x-bytes", "--data-binary", "@-", f"{base}/echo",
                 data_input=payload))
        checks.equal(body, payload, "posted bytes come back unchanged")
        checks.expect("Content-Type: application/x-bytes" in headers, "data body content type")

        form = curl("--data-urlencode", "name=J\u00f6rg K", "--data", "x=a%2Bb", f"{base}/form")
        checks.equal(form.decode(), "name=J\u00f6rg K;x=a+b;", "url-encoded form")

        with tempfile.NamedTemporaryFile(suffix=".txt") as upload:
            upload.write(b"file content")
            upload.flush()
            parts = curl("-F", "comment=hello", "-F", f"my_file=@{upload.name}", f"{base}/upload").decode()
            name = os.path.basename(upload.name)
            checks.equal(parts, f"comment|-|5|hello\nmy_file|{name}|12|file content\n", "multipart form")

        with open(binary, "rb") as own:
            expected = own.read()
        served = curl(f"{base}/self")
        checks.expect(served == expected, f"a file sent with sendfile arrives whole ({len(served)} of {len(expected)})")

    checks.finish()


if __name__ == "__main__":
    main(sys.argv[1])
