#!/usr/bin/python3
"""The sample site program on loopback, driven by Python's http.client, curl,
raw sockets and the python3-websockets client: every route, the not-found
handler, the middleware's line per request, and request text escaped on every
page that shows it."""

import asyncio
import http.client
import os
import queue
import re
import socket
import subprocess
import sys
import tempfile
import urllib.parse

import websockets

from vuzozar_peer import Checks, TestServer

CDN = "http://cdn.bootcss.com"
HOME = "http://www.wikipedia.org"
NOT_FOUND = "https://github.com/404"


def html_body(text):
    return b'<html><meta charset="UTF-8"><body>' + text.encode() + b"</body></html>"


LOGIN_PAGE = (
    '<!DOCTYPE html><html><head>'
    f'<script src="{CDN}/jquery/2.1.4/jquery.min.js"></script>'
    f'<link href="{CDN}/twitter-bootstrap/3.3.0/css/bootstrap.min.css" rel="stylesheet" type="text/css"></link>'
    '</head><body><h3>Sign In</h3><form action="/login" method="POST"><fieldset>'
    '<input type="email" name="email" autofocus="" placeholder="E-mail"></input>'
    '<input type="password" name="password" autofocus="" placeholder="Password"></input>'
    '<a href="/login"><button type="submit">Login</button></a></fieldset></form>'
    f'<script src="{CDN}/twitter-bootstrap/3.3.0/js/bootstrap.min.js" type="text/javascript"></script>'
    '</body></html>').encode()

UPLOAD_PAGE = (
    '<!DOCTYPE html><html><body><form action="/upload" method="POST" enctype="multipart/form-data">'
    '<input type="file" name="my_file1"></input><input type="file" name="my_file2"></input>'
    '<input type="file" name="my_file3"></input><button type="submit">Upload</button>'
    '</form></body></html>').encode()

DEMO_PAGE = (b'<!DOCTYPE html><html><body><center><h2>Hello World</h2>'
             b'<img src="https://www.swift.org/images/hero_2x.png"></img></center></body></html>')

ROUTES = sorted(["", "/public/:path", "/files/:path", "/magic", "/test/:param1/:param2", "/demo", "/raw",
                 "/redirect/permanently", "/redirect/temporarily", "/long", "/wildcard/*/test/*/:param",
                 "/stream", "/websocket-echo", "/upload", "/upload", "/login", "/login"])


def rows(pairs):
    return "".join(f"<tr><td>{name}</td><td>{value}</td></tr>" for name, value in pairs)


def information_page(method, path, query, headers, params):
    return ("<!DOCTYPE html><html><body><h3>Address: 127.0.0.1</h3>"
            f"<h3>Url: {path}</h3><h3>Method: {method}</h3>"
            f"<h3>Query:</h3><table>{rows(query)}</table>"
            f"<h3>Headers:</h3><table>{rows(headers)}</table>"
            f"<h3>Route params:</h3><table>{rows(params)}</table></body></html>").encode()


def raw_exchange(port, data):
    """Sends data on a fresh connection; the head and body the server sends
    back until it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as sock:
        sock.sendall(data)
        received = b""
        while chunk := sock.recv(65536):
            received += chunk
    head, _, body = received.partition(b"\r\n\r\n")
    return head.decode(), body


def multipart(boundary, parts):
    body = b""
    for disposition, content in parts:
        body += (f"--{boundary}\r\nContent-Disposition: form-data; {disposition}\r\n\r\n").encode()
        body += content + b"\r\n"
    return body + f"--{boundary}--\r\n".encode()


def curl(*args):
    return subprocess.run(["curl", "-sS", *args], capture_output=True, check=True, timeout=60).stdout


class Site:
    """The sample site with a check of the middleware line of each request."""

    def __init__(self, server, checks):
        self.server = server
        self.port = server.port
        self.checks = checks

    def logged(self, method, path):
        line = self.server.wait_for_line(lambda text: text.startswith("Middleware: "), timeout=10)
        self.checks.equal(line, f"Middleware: 127.0.0.1 -> {method} -> {path}", "middleware line")

    def ask(self, method, target, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        result = (response.status, dict(response.getheaders()), response.read())
        connection.close()
        self.logged(method, target.split("?")[0])
        return result

    def no_more_lines(self):
        try:
            extra = self.server.wait_for_line(lambda text: True, timeout=1)
        except queue.Empty:
            extra = None
        self.checks.equal(extra, None, "one middleware line per request, nothing else")


def check_pages(site, checks):
    status, headers, body = site.ask("GET", "/")
    checks.equal((status, headers.get("Content-Type"), "Content-Length" in headers),
                 (200, "text/html", False), "route list answer")
    items = re.findall(r'<li><a href="([^"]*)">([^<]*)</a></li>', body.decode())
    checks.equal(sorted(href for href, _ in items), ROUTES, "route list entries")
    checks.expect(all(href == text for href, text in items), "each link shows its route")
    checks.equal(re.sub(r"<li>.*?</li>", "", body.decode()),
                 "<!DOCTYPE html><html><body><ul></ul></body></html>", "route list frame")
    checks.equal(site.ask("DELETE", "/?x=1", body=b"ignored")[2], body, "route list for any request")

    checks.equal(site.ask("GET", "/login")[:3:2], (200, LOGIN_PAGE), "login page")
    checks.equal(site.ask("GET", "/login?x=1", headers={"X-Extra": "1"})[2], LOGIN_PAGE,
                 "login page whatever the request")
    checks.equal(site.ask("GET", "/upload")[:3:2], (200, UPLOAD_PAGE), "upload form")
    checks.equal(site.ask("GET", "/upload?q=1", body=b"x", headers={"A": "b"})[2], UPLOAD_PAGE,
                 "upload form whatever the request")
    for method in ("GET", "POST", "PATCH"):
        checks.equal(site.ask(method, "/demo?q")[:3:2], (200, DEMO_PAGE), f"{method} demo page")


def check_request_information(site, checks):
    head, body = raw_exchange(site.port, b"POST /test/one/two?a=1&a=2&b HTTP/1.1\r\nHost: x\r\n"
                                         b"X-Twice: first\r\nx-twice: last\r\n\r\n")
    site.logged("POST", "/test/one/two")
    checks.expect(head.startswith("HTTP/1.1 200 OK\r\n") and "Content-Type: text/html" in head,
                  f"request information head: {head!r}")
    checks.equal(body, information_page("POST", "/test/one/two", [("a", "1"), ("a", "2"), ("b", "")],
                                        [("host", "x"), ("x-twice", "last")],
                                        [(":param1", "one"), (":param2", "two")]),
                 "request information page")
    _, body = raw_exchange(site.port, b"GET /test/%C3%A9/x HTTP/1.1\r\n\r\n")
    site.logged("GET", "/test/%C3%A9/x")
    checks.equal(body, information_page("GET", "/test/%C3%A9/x", [], [],
                                        [(":param1", "é"), (":param2", "x")]),
                 "no query, no headers, a decoded parameter")


def check_handlers(site, checks):
    checks.equal(site.ask("GET", "/magic?x=1")[:3:2], (200, html_body("You asked for /magic")), "magic")
    checks.equal(site.ask("GET", "/wildcard/a/test/b/c")[2], html_body("/wildcard/a/test/b/c"), "wildcard")

    status, headers, body = site.ask("GET", "/long")
    checks.equal((status, headers.get("Content-Length"), len(body)), (200, "7938", 7938), "long length")
    checks.equal(body, html_body("".join(f"({i}),->" for i in range(1000))), "long text")
    checks.expect(body.endswith(b"(998),->(999),-></body></html>"), "long text ends")

    for path, code in (("/redirect/permanently", 301), ("/redirect/temporarily", 307)):
        status, headers, body = site.ask("GET", path)
        checks.equal((status, headers.get("Location"), body), (code, HOME, b""), path)
    for method, path in (("PUT", "/upload"), ("GET", "/nowhere"), ("DELETE", "/login")):
        status, headers, _ = site.ask(method, path)
        checks.equal((status, headers.get("Location")), (301, NOT_FOUND), f"not found: {method} {path}")

    raw = curl("-i", f"http://127.0.0.1:{site.port}/raw")
    site.logged("GET", "/raw")
    head, _, body = raw.partition(b"\r\n\r\n")
    checks.expect(b"\r\nXXX-Custom-Header: value\r\n" in head + b"\r\n" and b"Content-Length" not in head,
                  f"raw head: {head!r}")
    checks.equal(body, b"test", "raw body")

    streamed = curl("-i", f"http://127.0.0.1:{site.port}/stream")
    site.logged("GET", "/stream")
    head, _, body = streamed.partition(b"\r\n\r\n")
    checks.expect(head.startswith(b"HTTP/1.1 200 OK") and b"Content-Length" not in head, f"stream head: {head!r}")
    checks.equal(body, b"".join(b"[chunk %d]" % i for i in range(101)), "stream body")
    checks.equal(len(body), 1001, "stream length")


def check_file_routes(site, checks, public):
    with open(os.path.join(public, "style.CSS"), "wb") as f:
        f.write(b"body { color: red }")
    status, headers, body = site.ask("GET", "/public/style.CSS")
    checks.equal((status, headers.get("Content-Type"), headers.get("Content-Length"), body),
                 (200, "text/css", "19", b"body { color: red }"), "a public file")
    checks.equal(site.ask("GET", "/public/index.html")[:3:2], (404, b""), "a missing public file")
    checks.equal(site.ask("GET", "/public/..%2F")[:3:2], (404, b""), "nothing above the public directory")

    # The directory browser shows the whole file system.
    top, _, rest = public.lstrip("/").partition("/")
    status, headers, body = site.ask("GET", f"/files/{top}")
    checks.equal((status, headers.get("Content-Type")), (200, "text/html"), "a listing of the root's folder")
    first = rest.split("/")[0]
    checks.expect(f'<a href="/files/{top}/{first}">{first}</a>'.encode() in body, f"{first} is listed in /{top}")
    target = "/files/" + urllib.parse.quote(public.lstrip("/") + "/style.CSS", safe="")
    status, headers, body = site.ask("GET", target)
    checks.equal((status, "Content-Type" in headers, body), (200, False, b"body { color: red }"),
                 "a file through the browser")


def check_forms(site, checks):
    with tempfile.TemporaryDirectory() as folder:
        first, second = os.path.join(folder, "a.txt"), os.path.join(folder, "b.bin")
        with open(first, "wb") as f:
            f.write(b"hello")
        open(second, "wb").close()
        answer = curl("-F", "comment=plain field", "-F", f"my_file1=@{first}", "-F", f"my_file2=@{second}",
                      f"http://127.0.0.1:{site.port}/upload")
    site.logged("POST", "/upload")
    checks.equal(answer, html_body("Name: my_file1 File name: a.txt Size: 5<br>"
                                   "Name: my_file2 File name: b.bin Size: 0<br>"), "upload of two files and a field")

    body = multipart("XyZ", [('name=unquoted; filename="q.txt"', b"12")])
    status, _, answer = site.ask("POST", "/upload", body=body,
                                 headers={"Content-Type": "multipart/form-data; boundary=XyZ"})
    checks.equal((status, answer), (200, html_body("Name: unquoted File name: q.txt Size: 2<br>")),
                 "unquoted parameter")
    checks.equal(site.ask("POST", "/upload", body=b"a=b")[:3:2], (200, html_body("")), "upload that is no form")

    form = {"Content-Type": "application/x-www-form-urlencoded"}
    checks.equal(site.ask("POST", "/login", body=b"a=x%2Fy&b=c+d", headers=form)[2],
                 html_body("a = x/y<br>b = c d"), "login echo")
    checks.equal(site.ask("POST", "/login", body=b"flag", headers=form)[2], html_body(" = "), "field without =")
    checks.equal(site.ask("POST", "/login", body=b"a=1")[2], html_body(""), "login that is no form")


def check_escaping(site, checks):
    evil = "<script>alert(1)</script>"
    escaped = "&lt;script&gt;alert(1)&lt;/script&gt;"
    request = ("GET /test/<script>/x?<script>=<b> HTTP/1.1\r\nX-Evil: " + evil + "\r\n\r\n").encode()
    _, body = raw_exchange(site.port, request)
    site.logged("GET", "/test/<script>/x")
    checks.equal(body, information_page("GET", "/test/&lt;script&gt;/x", [("&lt;script&gt;", "&lt;b&gt;")],
                                        [("x-evil", escaped)],
                                        [(":param1", "&lt;script&gt;"), (":param2", "x")]),
                 "request information escaped")

    _, body = raw_exchange(site.port, b"GET /wildcard/<script>/test/b/c HTTP/1.1\r\n\r\n")
    site.logged("GET", "/wildcard/<script>/test/b/c")
    checks.equal(body, html_body("/wildcard/&lt;script&gt;/test/b/c"), "wildcard escaped")

    form = {"Content-Type": "application/x-www-form-urlencoded"}
    checks.equal(site.ask("POST", "/login", body=b"%3Cscript%3E=%22%3E%3Cb%3E", headers=form)[2],
                 html_body("&lt;script&gt; = &quot;&gt;&lt;b&gt;"), "login echo escaped")

    body = multipart("B", [('name="<b>"; filename="<script>.txt"', b"1")])
    checks.equal(site.ask("POST", "/upload", body=body, headers={"Content-Type": "multipart/form-data; boundary=B"})[2],
                 html_body("Name: &lt;b&gt; File name: &lt;script&gt;.txt Size: 1<br>"), "upload answer escaped")


async def check_websocket_echo(site, checks):
    async with websockets.connect(f"ws://127.0.0.1:{site.port}/websocket-echo") as ws:
        await ws.send("hello")
        checks.equal(await ws.recv(), "hello", "text echo")
        await ws.send(bytes(range(256)))
        checks.equal(await ws.recv(), bytes(range(256)), "binary echo")
        await ws.pong(b"unasked")
        await ws.send("after pong")
        checks.equal(await ws.recv(), "after pong", "a pong gets no answer")
        await asyncio.wait_for(await ws.ping(b"ping"), 30)
    site.logged("GET", "/websocket-echo")

    # The echo is one final frame of the message's kind.
    with socket.create_connection(("127.0.0.1", site.port), timeout=60) as sock:
        sock.sendall(b"GET /websocket-echo HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
        received = b""
        while b"\r\n\r\n" not in received:
            received += sock.recv(4096)
        head, _, received = received.partition(b"\r\n\r\n")
        checks.expect(head.startswith(b"HTTP/1.1 101 "), f"upgrade head: {head!r}")
        for opcode, payload in ((0x1, b"hi"), (0x2, b"\x00\xff")):
            key = b"\x01\x02\x03\x04"
            sock.sendall(bytes([0x80 | opcode, 0x80 | len(payload)]) + key
                         + bytes(b ^ key[i % 4] for i, b in enumerate(payload)))
            while len(received) < 2 + len(payload):
                received += sock.recv(4096)
            checks.equal(received[:2 + len(payload)], bytes([0x80 | opcode, len(payload)]) + payload,
                         f"echo frame of opcode {opcode}")
            received = received[2 + len(payload):]
        sock.sendall(bytes([0x88, 0x80]) + b"\x00\x00\x00\x00")
        while len(received) < 2:
            received += sock.recv(4096)
        checks.equal(received[:1], b"\x88", "the session answers a close with a close")
    site.logged("GET", "/websocket-echo")


def main(binary):
    checks = Checks()
    with tempfile.TemporaryDirectory() as public, TestServer(binary, public, "0", "127.0.0.1") as server:
        checks.equal(server.lines_before_start, [public], "the public directory is printed first")
        site = Site(server, checks)
        check_pages(site, checks)
        check_request_information(site, checks)
        check_handlers(site, checks)
        check_file_routes(site, checks, public)
        check_forms(site, checks)
        check_escaping(site, checks)
        asyncio.run(check_websocket_echo(site, checks))
        site.no_more_lines()
    checks.finish()


if __name__ == "__main__":
    main(sys.argv[1])
