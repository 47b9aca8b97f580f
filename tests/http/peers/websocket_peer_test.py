#!/usr/bin/python3
"""The module's WebSocket sessions against the python3-websockets client and
raw frames: handshake, echo, fragments, ping and pong, close, and bad frames,
each of which ends only its own session."""

import asyncio
import base64
import hashlib
import os
import socket
import struct
import sys

import websockets

from vuzozar_peer import Checks, TestServer

GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
BOUND = 16 * 2**20


def masked_frame(first_byte, payload, masked=True, declared_length=None):
    length = len(payload) if declared_length is None else declared_length
    mask_bit = 0x80 if masked else 0
    if length <= 125:
        header = bytes([first_byte, mask_bit | length])
    elif length <= 0xFFFF:
        header = bytes([first_byte, mask_bit | 126]) + struct.pack(">H", length)
    else:
        header = bytes([first_byte, mask_bit | 127]) + struct.pack(">Q", length)
    if not masked:
        return header + payload
    key = os.urandom(4)
    return header + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


class RawSession:
    """A WebSocket connection made by hand, for frames no client library sends."""

    def __init__(self, port, key="dGhlIHNhbXBsZSBub25jZQ=="):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.sock.sendall(("GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            self.buffer += self.sock.recv(4096)
        self.head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")

    def send(self, data):
        try:
            self.sock.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def rest(self):
        """Everything the server sends until it closes the connection."""
        data = self.buffer
        while True:
            try:
                chunk = self.sock.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
        self.sock.close()
        return data


async def echo_session(checks, base):
    async with websockets.connect(f"{base}/ws", max_size=None) as ws:
        await ws.send("héllo")
        checks.equal(await ws.recv(), "héllo", "text echo")
        await ws.send("a\x00b")
        checks.equal(await ws.recv(), "a\x00b", "text holding U+0000 arrives whole")
        await ws.send(bytes(range(256)))
        checks.equal(await ws.recv(), bytes(range(256)), "binary echo")
        await ws.send(iter(["frag1 ", "frag2 ", "frag3"]))
        checks.equal(await ws.recv(), "frag1 frag2 frag3", "fragmented text")
        await ws.send(iter([b"\x00\x01", b"\x02"]))
        checks.equal(await ws.recv(), b"\x00\x01\x02", "fragmented binary")
        pong_waiter = await ws.ping(b"are you there")
        await asyncio.wait_for(pong_waiter, 30)
        await ws.pong(b"unasked")
        checks.equal(await ws.recv(), "pong:unasked", "the pong callback")
        large = os.urandom(BOUND)
        await ws.send(large)
        checks.expect(await ws.recv() == large, "a message at the bound is echoed")
    checks.equal(ws.close_code, 1005, "the server's close frame has no status")


async def over_bound_session(checks, base):
    async with websockets.connect(f"{base}/ws", max_size=None) as ws:
        try:
            await ws.send(b"x" * (BOUND + 1))
            await ws.recv()
            checks.expect(False, "a message past the bound was answered")
        except websockets.ConnectionClosed:
            pass


PROTOCOL_ERROR = b"\x88\x02\x03\xea"  # close frame with status 1002
INVALID_DATA = b"\x88\x02\x03\xef"  # close frame with status 1007


def check_bad_frame(checks, server, frame, printed_prefix, what, close=PROTOCOL_ERROR):
    session = RawSession(server.port)
    session.send(frame)
    rest = session.rest()
    checks.equal(rest, close, f"{what}: one close frame with its status, then the end")
    line = server.wait_for_line(lambda line: line != "connected")
    checks.expect(line.startswith(printed_prefix), f"{what}: printed {line!r}")
    checks.equal(server.wait_for_line(lambda line: line != "connected"), "disconnected", f"{what}: disconnected")


def raw_checks(checks, server):
    session = RawSession(server.port)
    expected = base64.b64encode(hashlib.sha1(("dGhlIHNhbXBsZSBub25jZQ==" + GUID).encode()).digest())
    checks.expect(session.head.startswith(b"HTTP/1.1 101 Switching Protocols\r\n"), "101 status line")
    checks.expect(b"\r\nSec-WebSocket-Accept: " + expected + b"\r\n" in session.head, "accept key")
    checks.expect(b"\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=" in session.head, "RFC 6455 sample")
    checks.expect(b"Content-Length" not in session.head, "no length on 101")
    session.send(masked_frame(0x88, b""))
    checks.equal(session.rest(), b"\x88\x00", "close answered with a close frame")
    checks.equal(server.wait_for_line(lambda line: line != "connected"), "disconnected", "close: disconnected")

    check_bad_frame(checks, server, masked_frame(0x81, b"plain", masked=False), "Unmasked frame: ", "unmasked frame")
    check_bad_frame(checks, server, masked_frame(0x83, b"x"), "Unknown Op Code: ", "unknown opcode")
    check_bad_frame(checks, server, masked_frame(0x81, b"bad \xc3\x28 utf8"), "Invalid UTF8 character: ",
                    "invalid UTF-8", close=INVALID_DATA)
    check_bad_frame(checks, server, masked_frame(0xC1, b"x"), "Protocol error: ", "reserved bit")
    check_bad_frame(checks, server, masked_frame(0x89, b"p" * 126), "Protocol error: ", "long ping")
    check_bad_frame(checks, server, masked_frame(0x8A, b"p" * 126), "Protocol error: ", "long pong")
    # A data frame inside a fragmented message fails the connection instead
    # of being merged into it.
    check_bad_frame(checks, server, masked_frame(0x01, b"first ") + masked_frame(0x81, b"other"),
                    "Protocol error: ", "a whole text inside a fragmented one")
    check_bad_frame(checks, server, masked_frame(0x01, b"first ") + masked_frame(0x02, b"other"),
                    "Protocol error: ", "a binary fragment inside a text one")
    check_bad_frame(checks, server, masked_frame(0x82, b"", declared_length=2**62), "Protocol error: ",
                    "a header announcing 2^62 bytes")


async def main_async(binary):
    checks = Checks()
    with TestServer(binary) as server:
        base = f"ws://127.0.0.1:{server.port}"
        # One session stays open while the others run and fail.
        async with websockets.connect(f"{base}/ws") as keeper:
            await echo_session(checks, base)
            server.wait_for_line(lambda line: line == "disconnected")
            await over_bound_session(checks, base)
            line = server.wait_for_line(lambda line: line.startswith("Protocol error: "))
            checks.expect("exceeds the limit" in line, f"over-bound frame printed: {line}")
            server.wait_for_line(lambda line: line == "disconnected")
            raw_checks(checks, server)
            await keeper.send("still here")
            checks.equal(await keeper.recv(), "still here", "the first session outlived the others")
    checks.finish()


if __name__ == "__main__":
    asyncio.run(main_async(sys.argv[1]))
