#!/usr/bin/python3
"""The file-sharing handlers and the directory browser against curl and
Python's http.client, over real files in a temporary directory: types and
lengths, default names, missing and unreadable files, directories, listings
and their order and escaping, paths that try to leave the directory, large
and concurrent downloads, a file that shrinks while it is sent."""

import ctypes
import hashlib
import html.parser
import http.client
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import urllib.parse

from vuzozar_peer import Checks, TestServer

MIB = 1 << 20
IN_OPEN, IN_ACCESS = 0x20, 0x01


def request(port, path, method="GET", read_body=True):
    """Status, headers (a dict) and body of one request sent exactly as given."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    connection.putrequest(method, path, skip_host=False, skip_accept_encoding=True)
    connection.endheaders()
    response = connection.getresponse()
    body = response.read() if read_body else None
    headers = dict(response.getheaders())
    connection.close()
    return response.status, headers, body


def curl_head_and_body(*args):
    result = subprocess.run(["curl", "-sS", "-i", *args], capture_output=True, check=True)
    head, _, body = result.stdout.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    return lines[0], lines[1:], body


class OpenWatch:
    """Reports whether a file was opened or read while watched (inotify)."""

    def __init__(self, path):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, path.encode(), IN_OPEN | IN_ACCESS) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def touched(self):
        try:
            events = os.read(self.fd, 4096)
        except BlockingIOError:
            return False
        return len(events) >= struct.calcsize("iIII")

    def close(self):
        os.close(self.fd)


def vm_rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def write(path, data, mode=0o644):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


def make_tree(top):
    """The shared directory and a marker file beside it."""
    public = os.path.join(top, "public")
    os.makedirs(os.path.join(public, "sub"))
    os.makedirs(os.path.join(top, "elsewhere"))
    marker = os.path.join(top, "marker.txt")
    write(marker, b"outside the shared directory")
    write(os.path.join(top, "elsewhere", "default.html"), b"outside default")
    write(os.path.join(public, "PHOTO.JPG"), b"\xff\xd8 jpeg bytes")
    write(os.path.join(public, "Index.HTML"), b"<p>capital html</p>")
    write(os.path.join(public, "default.html"), b"<p>the default page</p>")
    write(os.path.join(public, "empty.txt"), b"")
    write(os.path.join(public, "notes"), b"no extension")
    write(os.path.join(public, "archive.tar.gz"), b"gz")
    write(os.path.join(public, "sub", "inner.txt"), b"inner text")
    write(os.path.join(public, "locked.txt"), b"nobody may read this", mode=0o000)
    write(os.path.join(public, "big.bin"), os.urandom(64 * MIB))
    with open(os.path.join(public, "sparse.img"), "wb") as f:
        f.truncate(1 << 30)
    os.symlink("PHOTO.JPG", os.path.join(public, "inside-link.jpg"))
    os.symlink("../marker.txt", os.path.join(public, "relative-out.txt"))
    os.symlink(marker, os.path.join(public, "absolute-out.txt"))
    os.symlink("..", os.path.join(public, "parent"))
    os.symlink(os.path.join(public, "notes"), os.path.join(public, "absolute-in"))
    os.mkfifo(os.path.join(public, "pipe.txt"))
    return public, marker


def check_types_and_lengths(checks, port, public):
    status, headers, body = request(port, "/public/PHOTO.JPG")
    checks.equal((status, headers.get("Content-Type"), headers.get("Content-Length"), body),
                 (200, "image/jpeg", str(len(b"\xff\xd8 jpeg bytes")), b"\xff\xd8 jpeg bytes"), "capital JPG")
    status, headers, body = request(port, "/public/Index.HTML")
    checks.equal((status, headers.get("Content-Type"), body), (200, "text/html", b"<p>capital html</p>"),
                 "capital HTML")
    status, headers, body = request(port, "/public/empty.txt")
    checks.equal((status, headers.get("Content-Type"), headers.get("Content-Length"), body),
                 (200, "text/plain", "0", b""), "empty file")
    status, headers, body = request(port, "/public/notes")
    checks.equal((status, headers.get("Content-Type"), body), (200, "application/octet-stream", b"no extension"),
                 "no extension")
    status, headers, _ = request(port, "/public/archive.tar.gz")
    checks.equal(headers.get("Content-Type"), "application/octet-stream", "only the last extension counts")
    status, headers, body = request(port, "/public/inside-link.jpg")
    checks.equal((status, headers.get("Content-Type"), body), (200, "image/jpeg", b"\xff\xd8 jpeg bytes"),
                 "a symbolic link that stays inside is followed")
    status, headers, body = request(port, "/public/sub%2Finner.txt")
    checks.equal((status, body), (200, b"inner text"), "a file in a subdirectory, its separator encoded")

    # curl: the head as written, and no keep-alive after a body of unknown length.
    status, headers, body = curl_head_and_body("-H", "Connection: keep-alive", f"http://127.0.0.1:{port}/public/notes")
    checks.equal(status, "HTTP/1.1 200 OK", "curl status line")
    checks.expect("Content-Length: 12" in headers and "Content-Type: application/octet-stream" in headers,
                  f"curl headers: {headers}")
    checks.expect(not any(h.startswith("Connection") for h in headers), "not kept alive")
    checks.equal(body, b"no extension", "curl body")

    for path, what in [("/public/nothing.txt", "a missing file"), ("/public/sub", "a directory"),
                       ("/public/pipe.txt", "a FIFO (no blocking open)"), ("/public/locked.txt", "an unreadable file"),
                       ("/public/absolute-in", "an absolute link, even to a file inside")]:
        status, headers, body = request(port, path)
        checks.equal((status, body, "Content-Length" in headers), (404, b"", False), what)


def check_defaults(checks, port, public):
    status, headers, body = request(port, "/defaults")
    checks.equal((status, body), (200, b"<p>the default page</p>"), "the second default name when only it exists")
    checks.expect("Content-Type" not in headers and "Content-Length" not in headers,
                  f"a default file has no type or length: {headers}")
    write(os.path.join(public, "index.html"), b"<p>index</p>")
    status, _, body = request(port, "/defaults")
    checks.equal((status, body), (200, b"<p>index</p>"), "the first default name wins")
    os.remove(os.path.join(public, "index.html"))
    status, _, body = request(port, "/no-defaults")
    checks.equal((status, body), (404, b""), "an empty parameter without defaults names the directory: 404")


def check_share_file(checks, port):
    for method, path in [("GET", "/one"), ("GET", "/one/other?x=1"), ("POST", "/one"), ("DELETE", "/one/x")]:
        status, headers, body = request(port, path, method)
        checks.equal((status, body), (200, b"\xff\xd8 jpeg bytes"), f"shareFile {method} {path}")
        checks.expect("Content-Type" not in headers and "Content-Length" not in headers,
                      f"shareFile sends no type or length: {headers}")
    checks.equal(request(port, "/missing")[:3:2], (404, b""), "shareFile of a missing file")
    checks.equal(request(port, "/directory")[:3:2], (404, b""), "shareFile of a directory")


def check_confinement(checks, port, marker):
    watch = OpenWatch(marker)
    attempts = [
        "/public/..",
        "/public/%2e%2e",
        "/public/..%2Fmarker.txt",
        "/public/%2e%2e%2fmarker.txt",
        "/public/sub%2F..%2F..%2Fmarker.txt",
        "/public/" + urllib.parse.quote(marker, safe=""),
        "/public/%2F..%2Fmarker.txt",
        "/public/relative-out.txt",
        "/public/absolute-out.txt",
        "/public/parent%2Fmarker.txt",
        "/public/sub%2F..%2F..%2Felsewhere%2Fdefault.html",
        "/public/notes%00.jpg",
        "/files/..%2Fmarker.txt",
        "/files/relative-out.txt",
    ]
    for path in attempts:
        status, headers, body = request(port, path)
        checks.equal((status, body), (404, b""), f"refused: {path}")
    status, _, body = curl_head_and_body("--path-as-is", f"http://127.0.0.1:{port}/public/..%2Fmarker.txt")
    checks.equal((status, body), ("HTTP/1.1 404 Not Found", b""), "curl, path as is")
    checks.expect(not watch.touched(), "nothing outside the directory was opened or read")
    watch.close()


def check_magic_links(checks, server_binary, shared_file):
    """Magic links jump out of any directory, so they are refused like any
    other way out, also when the browsed directory is the root."""
    with TestServer(server_binary, "/", shared_file, **run_as_nobody()) as server:
        for path in ("/files/proc%2Fself%2Froot", "/files/proc%2Fself%2Fcwd"):
            status, _, body = request(server.port, path)
            checks.equal((status, body), (404, b""), f"refused magic link: {path}")


def download(port, path, into, index):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    connection.request("GET", path)
    response = connection.getresponse()
    digest = hashlib.sha256()
    length = 0
    while chunk := response.read(MIB):
        digest.update(chunk)
        length += len(chunk)
    connection.close()
    into[index] = (response.status, length, digest.hexdigest())


def check_large_files(checks, server, public):
    port = server.port
    with open(os.path.join(public, "big.bin"), "rb") as f:
        expected = hashlib.sha256(f.read()).hexdigest()
    results = [None, None]
    threads = [threading.Thread(target=download, args=(port, "/public/big.bin", results, i)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, result in enumerate(results):
        checks.equal(result, (200, 64 * MIB, expected), f"concurrent download {i} is byte-exact")

    before = vm_rss_kib(server.process.pid)
    download(port, "/public/sparse.img", results, 0)
    after = vm_rss_kib(server.process.pid)
    zeros = hashlib.sha256()
    for _ in range(1024):
        zeros.update(bytes(MIB))
    checks.equal(results[0], (200, 1 << 30, zeros.hexdigest()), "the 1 GiB file")
    checks.expect(after - before < 64 * 1024, f"resident memory grew by {after - before} KiB for a 1 GiB file")


def check_shrinking_file(checks, port, public):
    """The file is cut short while it is sent: the body ends early, the
    connection closes and the server goes on serving."""
    path = os.path.join(public, "shrinking.bin")
    with open(path, "wb") as f:
        f.truncate(512 * MIB)
    with socket.create_connection(("127.0.0.1", port), timeout=60) as sock:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        sock.sendall(b"GET /public/shrinking.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        received = sock.recv(65536)
        os.truncate(path, MIB)
        while chunk := sock.recv(MIB):
            received += chunk
    head, _, body = received.partition(b"\r\n\r\n")
    checks.expect(b"Content-Length: 536870912" in head, "announced the size at open")
    checks.expect(len(body) < 512 * MIB, f"the body ended early ({len(body)} bytes)")
    checks.equal(request(port, "/public/notes")[:3:2], (200, b"no extension"), "the server serves on")


class Links(html.parser.HTMLParser):
    """The (href, text) of every link of a page, entities resolved."""

    def __init__(self, page):
        super().__init__()
        self.links = []
        self._href = None
        self.feed(page)

    def handle_starttag(self, tag, attrs):
        if tag == "a":
            self._href = dict(attrs)["href"]
            self.links.append((self._href, ""))

    def handle_data(self, data):
        if self._href is not None:
            self.links[-1] = (self._href, self.links[-1][1] + data)

    def handle_endtag(self, tag):
        if tag == "a":
            self._href = None


def listing(names, path):
    """The exact page for names that need no HTML escaping."""
    rows = "".join(f'<tr><td><a href="{path}/{urllib.parse.quote(name, safe="")}">{name}</a></td></tr>'
                   for name in names)
    return f"<!DOCTYPE html><html><body><table>{rows}</table></body></html>".encode()


def check_browser(checks, port, public):
    docs = os.path.join(public, "docs")
    os.makedirs(docs)
    write(os.path.join(docs, "b.txt"), b"bee")
    write(os.path.join(docs, "A.txt"), b"ay")
    status, headers, body = request(port, "/files/docs")
    checks.equal((status, headers.get("Content-Type"), "Content-Length" in headers), (200, "text/html", False),
                 "listing head")
    checks.equal(body, listing([".", "..", "A.txt", "b.txt"], "/files/docs"), "listing of docs")
    checks.equal(request(port, "/files/docs/")[2], listing([".", "..", "A.txt", "b.txt"], "/files/docs/"),
                 "a request path ending in a separator")
    status, headers, body = request(port, "/files/docs%2FA.txt")
    checks.equal((status, body, "Content-Type" in headers or "Content-Length" in headers), (200, b"ay", False),
                 "a file through the browser")
    status, _, body = request(port, "/browse-empty")
    checks.expect(status == 200 and b'<a href="/browse-empty/docs">docs</a>' in body,
                  "an empty parameter lists the directory itself")

    # Case, dots and letters beyond ASCII; names equal but for case keep the
    # order in which the directory was read; a name that is no UTF-8 is left
    # out.
    mixed = os.path.join(public, "mixed")
    os.makedirs(mixed)
    for name in ["zeta", "Éclair", "eclair", ".hidden", "_under", "Same", "same", "SAME", "10", "9"]:
        write(os.path.join(mixed, name), b"")
    write(os.path.join(os.fsencode(mixed), b"not utf-8 \xff"), b"")
    readable = [name for name in os.listdir(mixed) if name.isprintable()]
    expected = sorted([".", ".."] + readable, key=str.lower)
    checks.equal(request(port, "/files/mixed")[2], listing(expected, "/files/mixed"), "listing order")

    empty = os.path.join(public, "empty-dir")
    os.makedirs(empty)
    checks.equal(request(port, "/files/empty-dir")[2], listing([".", ".."], "/files/empty-dir"),
                 "a directory of dot entries only")

    # Names that markup or URLs would read otherwise show as they are, and
    # their links name them.
    odd = os.path.join(public, "odd")
    os.makedirs(odd)
    odd_names = ['say "hi"', "<b>bold", "fish & chips", "two  blanks", "hash#tag", "why?", "100%", "ünï"]
    for name in odd_names:
        write(os.path.join(odd, name), name.encode())
    status, _, body = request(port, "/files/odd")
    links = Links(body.decode())
    checks.equal(sorted(text for _, text in links.links), sorted([".", ".."] + odd_names), "escaped names")
    for href, text in links.links:
        folder, _, last = href.rpartition("/")
        checks.equal((folder, urllib.parse.unquote(last)), ("/files/odd", text), f"the link of {text!r}")
        if text not in (".", ".."):
            status, _, content = request(port, "/files/" + urllib.parse.quote("odd/" + text, safe=""))
            checks.equal((status, content), (200, text.encode()), f"the file behind {text!r}")

    os.makedirs(os.path.join(public, "locked-dir"), mode=0o000)
    for path, expected_status, what in [
        ("/files/nothing", 404, "a missing path"),
        ("/files/docs%2FA.txt%2Fmore", 500, "a path through a regular file"),
        ("/files/locked-dir", 500, "an unreadable directory"),
        ("/files/locked.txt", 404, "an unreadable file"),
        ("/files/pipe.txt", 404, "a FIFO"),
        ("/files/..", 404, "the parent"),
        ("/files/parent", 404, "a link to the parent"),
        ("/files/" + "n" * 256, 404, "a name one byte too long"),
        ("/files/" + "n" * 5000, 404, "a name of 5,000 bytes"),
        ("/files/" + "deep%2F" * 900 + "end", 404, "a path over 4,096 bytes of short names"),
    ]:
        status, _, body = request(port, path)
        checks.equal((status, body), (expected_status, b""), what)


def run_as_nobody():
    """Permission checks do not apply to root: as root, the server runs as
    nobody, so that an unreadable file is unreadable to it."""
    if os.geteuid() != 0:
        return {}
    return {"user": 65534, "group": 65534, "extra_groups": []}


def main(binary):
    checks = Checks()
    with tempfile.TemporaryDirectory() as top:
        os.chmod(top, 0o755)
        public, marker = make_tree(top)
        # nobody may not reach the build tree (a checkout in root's home):
        # the server runs from a copy beside the shared tree.
        server_binary = shutil.copy(binary, os.path.join(top, os.path.basename(binary)))
        with TestServer(server_binary, public, os.path.join(public, "PHOTO.JPG"),
                        **run_as_nobody()) as server:
            check_types_and_lengths(checks, server.port, public)
            check_defaults(checks, server.port, public)
            check_share_file(checks, server.port)
            check_browser(checks, server.port, public)
            check_confinement(checks, server.port, marker)
            check_large_files(checks, server, public)
            check_shrinking_file(checks, server.port, public)
        check_magic_links(checks, server_binary, os.path.join(public, "PHOTO.JPG"))
    checks.finish()


if __name__ == "__main__":
    main(sys.argv[1])
