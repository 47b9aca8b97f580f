#!/usr/bin/python3
"""The module's server against Python's http.client and raw sockets: kept-alive
connections, pipelined requests and malformed requests. Each bad request ends
only its own connection; the server goes on serving the others."""

import http.client
import os
import socket
import sys
import time

from vuzozar_peer import Checks, TestServer


def raw_exchange(port, data):
    """Sends data on a fresh connection and ends the sending side; everything
    the server sends back until it closes."""
    with socket.create_connection(("127.0.0.1", port)) as sock:
        try:
            sock.sendall(data)
            sock.shutdown(socket.SHUT_WR)
        except (BrokenPipeError, ConnectionResetError):
            pass
        received = b""
        while True:
            try:
                chunk = sock.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            received += chunk
        return received


def get(port, path, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    connection.request("GET", path, headers=headers or {})
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return response.status, body


def check_out_of_descriptors(checks, binary):
    """More connections than the server has descriptors: accepting waits
    until some are free again instead of ending the server."""
    limit = 32
    with TestServer(binary, descriptor_limit=limit) as server:
        # A request cut short first, its connection's thread awaited: the
        # sanitizer build checks the types of an error and of a connection's
        # thread on their first use and needs descriptors for that, which a
        # thread still ending once the flood has begun would find taken.
        threads = f"/proc/{server.process.pid}/task"
        before = len(os.listdir(threads))
        checks.equal(raw_exchange(server.port, b"GET /hello HTTP/1.1\r\n"), b"", "a request cut short")
        deadline = time.monotonic() + 30
        while len(os.listdir(threads)) > before and time.monotonic() < deadline:
            time.sleep(0.05)
        flood = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(60)]
        descriptors = f"/proc/{server.process.pid}/fd"
        deadline = time.monotonic() + 30
        while len(os.listdir(descriptors)) < limit and time.monotonic() < deadline:
            time.sleep(0.05)
        checks.equal(len(os.listdir(descriptors)), limit, "the flood took every descriptor")
        time.sleep(0.3)  # the next accept fails for want of one
        for sock in flood:
            sock.close()
        status, body = get(server.port, "/hello")
        checks.equal((status, body), (200, b"Hello, World!"), "served after running out of descriptors")


def main(binary):
    checks = Checks()
    check_out_of_descriptors(checks, binary)
    with TestServer(binary) as server:
        port = server.port
        # A connection that stays open through every bad request below.
        keeper = http.client.HTTPConnection("127.0.0.1", port, timeout=60)

        def keeper_still_served(what):
            keeper.request("GET", "/hello", headers={"Connection": "keep-alive"})
            response = keeper.getresponse()
            checks.equal((response.status, response.read(), response.getheader("Connection")),
                         (200, b"Hello, World!", "keep-alive"), f"kept-alive connection after {what}")

        keeper_still_served("its start")
        first_socket = keeper.sock
        keeper_still_served("a second request")
        checks.expect(keeper.sock is first_socket, "http.client kept one connection")

        # Requests that cannot be served are answered with a status line of
        # their own, and their connection ends.
        def refused(request, status, what):
            answer = raw_exchange(port, request)
            checks.expect(answer.startswith(b"HTTP/1.1 %d " % status) and answer.endswith(b"\r\n\r\n"),
                          f"{what}: refused with {status}, got {answer[:60]!r}")

        refused(b"GET /hello\r\n\r\n", 400, "two-token request line")
        refused(b"\r\n\r\n", 400, "empty request line")
        refused(b"GET /echo HTTP/1.1\r\nContent-Length: -4\r\n\r\nabcd", 400, "negative content-length")
        over_bound = str(64 * 2**20 + 1).encode()
        refused(b"POST /echo HTTP/1.1\r\nContent-Length: " + over_bound + b"\r\n\r\nx", 413,
                "content-length past the bound")
        refused(b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n", 431, "overlong request line")
        many = b"".join(b"X-%d: v\r\n" % i for i in range(300))
        refused(b"GET /hello HTTP/1.1\r\n" + many + b"\r\n", 431, "too many header lines")
        checks.equal(raw_exchange(port, b"POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort"), b"",
                     "body cut short by the peer")
        keeper_still_served("the malformed requests")

        # A body must never be served as a request of its own.
        smuggled = b"GET /hello HTTP/1.1\r\n\r\n"
        for length in [b"99999999999999999999999", b"1e3", b"0x10", b"5 5", b"+26", b"abc"]:
            answer = raw_exchange(port, b"POST /echo HTTP/1.1\r\nContent-Length: " + length + b"\r\n\r\n" + smuggled)
            checks.expect(answer.startswith(b"HTTP/1.1 400 ") and b"Hello" not in answer,
                          f"content-length {length!r}: {answer[:60]!r}")
        answer = raw_exchange(port, b"POST /echo HTTP/1.1\r\nContent-Length: 26\r\nContent-Length: 0\r\n\r\n"
                                    + smuggled)
        checks.expect(answer.startswith(b"HTTP/1.1 400 ") and b"Hello" not in answer, "two different lengths")

        # A chunked upload is neither lost nor taken for success.
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        connection.request("POST", "/echo", body=iter([b"hello", b" world"]), encode_chunked=True)
        response = connection.getresponse()
        checks.equal((response.status, response.read()), (501, b""), "chunked upload")
        connection.close()

        # Control bytes in the request line or a header line are refused,
        # not dropped: /params/a<CR>b is no request for /params/ab.
        for request in [b"GET /params/a\rb HTTP/1.1\r\n\r\n", b"GET /params/a\x00b HTTP/1.1\r\n\r\n",
                        b"GET /params/a\tb HTTP/1.1\r\n\r\n", b"GET /params/ab HTTP/1.1\r\nX: 1\x002\r\n\r\n",
                        b"GET /params/ab HTTP/1.1\r\nX: 1\r2\r\n\r\n"]:
            answer = raw_exchange(port, request)
            checks.expect(answer.startswith(b"HTTP/1.1 400 ") and not answer.endswith(b"ab"),
                          f"control byte in {request!r}: {answer[:60]!r}")
        answer = raw_exchange(port, b"GET /headers HTTP/1.1\r\nX-Tab:\ta\tb\r\n\r\n")
        checks.expect(b"x-tab=a\tb\n" in answer, "a tab inside a header value is kept")

        # Targets that do not parse are not served as "/".
        for target in [b"", b"http://[::1]:bad/hello", b"hello", b"*", b"//host:port/hello"]:
            refused(b"GET " + target + b" HTTP/1.1\r\n\r\n", 400, f"target {target!r}")
        keeper_still_served("the refused requests")

        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        connection.putrequest("GET", "/hello")
        for i in range(300):
            connection.putheader(f"X-{i}", "v")
        connection.endheaders()
        checks.equal(connection.getresponse().status, 431, "300 header lines from http.client")
        connection.close()

        status, body = get(port, "/headers", {"X-Spaced": "  a:b  "})
        checks.equal(status, 200, "status of /headers")
        checks.expect(b"x-spaced=a:b\n" in body, "a value keeps its colons")

        # Lines without a colon and bare line feeds.
        answer = raw_exchange(port, b"GET /headers HTTP/1.1\nNoColon\nX-A:  1\n\n")
        checks.expect(answer.startswith(b"HTTP/1.1 200 OK\r\n"), "bare line feeds")
        checks.expect(b"nocolon=NoColon\n" in answer and b"x-a=1\n" in answer, "header without colon")
        checks.expect(raw_exchange(port, b"get /hello HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 404 "),
                      "methods are taken as sent")
        checks.expect(raw_exchange(port, b"GET  /hello HTTP/1.1\r\n\r\n").startswith(b"HTTP/1.1 400 "),
                      "two blanks give an empty target")
        answer = raw_exchange(port, b"GET /params/%zz HTTP/1.1\r\n\r\n")
        checks.expect(answer.startswith(b"HTTP/1.1 404 "), "an invalid escape matches no route")
        answer = raw_exchange(port, b"GET http://example.com/hello?x HTTP/1.1\r\n\r\n")
        checks.expect(answer.endswith(b"Hello, World!"), "absolute-form target")

        # Pipelined requests: the body ends exactly where the next request begins.
        answer = raw_exchange(port, b"POST /echo HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 3\r\n\r\nabc"
                                    b"GET /hello HTTP/1.1\r\n\r\n")
        first, _, rest = answer.partition(b"abc")
        checks.expect(first.startswith(b"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: keep-alive\r\n"),
                      "first pipelined answer")
        checks.expect(rest.startswith(b"HTTP/1.1 200 OK\r\n") and rest.endswith(b"Hello, World!"),
                      "second pipelined answer")

        # WebSocket upgrades that are none answer 400 and keep the usual rules.
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        connection.request("GET", "/ws", headers={"Connection": "keep-alive"})
        response = connection.getresponse()
        checks.equal((response.status, response.read()), (400, b"Invalid value of 'Upgrade' header: unknown"),
                     "upgrade header missing")
        connection.request("GET", "/ws", headers={"Connection": "keep-alive", "Upgrade": "websocket"})
        response = connection.getresponse()
        checks.equal((response.status, response.read()), (400, b"Invalid value of 'Connection' header: keep-alive"),
                     "connection header without upgrade, on the same kept-alive connection")
        connection.close()

        keeper_still_served("everything")
        keeper.close()
    checks.finish()


if __name__ == "__main__":
    main(sys.argv[1])
