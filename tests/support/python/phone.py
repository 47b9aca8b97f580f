"""A phone as the Handoff sees it: a python3-websockets client on the stream
route that keeps every text message and audio frame it receives."""

import asyncio
import json
import time

import websockets


class Phone:
    def __init__(self, socket):
        self.socket = socket
        self.texts = []   # parsed JSON messages, in arrival order
        self.frames = []  # (arrival time, bytes) of each binary frame
        self.closed = asyncio.Event()
        self._arrived = asyncio.Event()
        self._reader = asyncio.create_task(self._read())

    @classmethod
    async def connect(cls, page_url, **options):
        url = page_url.replace("http://", "ws://", 1) + "/stream"
        return cls(await websockets.connect(url, max_size=None, **options))

    async def _read(self):
        try:
            async for message in self.socket:
                if isinstance(message, bytes):
                    self.frames.append((time.monotonic(), message))
                else:
                    self.texts.append(json.loads(message))
                self._arrived.set()
        except websockets.ConnectionClosed:
            pass
        self.closed.set()
        self._arrived.set()

    async def send(self, message):
        await self.socket.send(message if isinstance(message, (str, bytes)) else json.dumps(message))

    async def next_text(self, predicate=lambda m: True, timeout=10, start=0):
        """The first text message from index start on that satisfies predicate."""
        deadline = time.monotonic() + timeout
        while True:
            for message in self.texts[start:]:
                if predicate(message):
                    return message
            start = len(self.texts)
            left = deadline - time.monotonic()
            if left <= 0 or self.closed.is_set():
                return None
            self._arrived.clear()
            try:
                await asyncio.wait_for(self._arrived.wait(), left)
            except asyncio.TimeoutError:
                return None

    async def close(self):
        await self.socket.close()
        await self._reader


def of_type(kind, **fields):
    """A predicate for a message of the type with the given field values."""
    return lambda m: m.get("type") == kind and all(m.get(k) == v for k, v in fields.items())
