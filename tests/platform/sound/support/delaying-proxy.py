#!/usr/bin/env python3
"""delaying-proxy.py LISTEN UPSTREAM HOLD [FIRST | sinks-after-load]

A sound server that answers slowly, as a loaded desktop's, one starting at
login or one bridged from another machine answers: a unix socket LISTEN whose
connections are passed on to the pulse socket UPSTREAM, with each packet the
server sends held HOLD seconds before the client gets it (only the first
FIRST packets of each connection, when given; with sinks-after-load only the
answer to the first listing of the sinks asked for after each load of a
module, as a loaded server's answer to the one request a tap needs it for).
What the client sends goes on at once; the order of the packets never
changes. Passes no descriptors, so it carries only a server that does not hand
its clients memory or ring buffers (PipeWire's pulse side, or PulseAudio to a
client whose configuration turns shared memory off). Prints "listening" once
it accepts connections.
"""

import asyncio
import os
import struct
import sys

DESCRIPTOR = struct.Struct(">IIIII")  # length, channel, offset high and low, flags
CONTROL = 0xFFFFFFFF  # the channel of commands and replies
HEAD = struct.Struct(">BIBI")  # a command's tagged number and tag: 'L' value 'L' value
REPLY, GET_SINK_INFO_LIST, LOAD_MODULE = 2, 22, 51


async def read_packet(reader):
    head = await reader.readexactly(DESCRIPTOR.size)
    return head, await reader.readexactly(DESCRIPTOR.unpack(head)[0])


def command_of(head, body):
    """The command and tag of a control packet; None for any other."""
    if DESCRIPTOR.unpack(head)[1] != CONTROL or len(body) < HEAD.size:
        return None
    kind, command, tag_kind, tag = HEAD.unpack_from(body)
    return (command, tag) if kind == tag_kind == ord("L") else None


class SinksAfterLoad:
    """Tells the replies to the first listing of the sinks after each load."""

    def __init__(self):
        self.loaded = False
        self.tags = set()

    def sent(self, head, body):
        command, tag = command_of(head, body) or (None, None)
        if command == LOAD_MODULE:
            self.loaded = True
        elif command == GET_SINK_INFO_LIST and self.loaded:
            self.loaded = False
            self.tags.add(tag)

    def held(self, head, body):
        command, tag = command_of(head, body) or (None, None)
        return command == REPLY and tag in self.tags


async def client_to_server(reader, writer, watch):
    try:
        while True:
            head, body = await read_packet(reader)
            if watch:
                watch.sent(head, body)
            writer.write(head + body)
            await writer.drain()
    except (asyncio.IncompleteReadError, ConnectionError):
        pass
    finally:
        writer.close()


async def server_to_client(reader, writer, hold, first, watch):
    loop = asyncio.get_running_loop()
    packets = asyncio.Queue()

    async def deliver():
        while (packet := await packets.get()) is not None:
            release, data = packet
            await asyncio.sleep(max(0.0, release - loop.time()))
            writer.write(data)
            await writer.drain()
        writer.close()

    delivering = asyncio.create_task(deliver())
    held = 0
    try:
        while True:
            head, body = await read_packet(reader)
            if watch:
                delay = hold if watch.held(head, body) else 0.0
            else:
                delay = hold if first is None or held < first else 0.0
            held += 1
            await packets.put((loop.time() + delay, head + body))
    except (asyncio.IncompleteReadError, ConnectionError):
        pass
    await packets.put(None)
    await delivering


async def serve(listen, upstream, hold, first):
    async def connection(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_unix_connection(upstream)
        except OSError:
            client_writer.close()
            return
        watch = SinksAfterLoad() if first == "sinks-after-load" else None
        count = None if first is None or watch else int(first)
        await asyncio.gather(client_to_server(client_reader, server_writer, watch),
                             server_to_client(server_reader, client_writer, hold, count, watch),
                             return_exceptions=True)

    if os.path.exists(listen):
        os.unlink(listen)
    server = await asyncio.start_unix_server(connection, path=listen)
    print("listening", flush=True)
    async with server:
        await server.serve_forever()


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    first = sys.argv[4] if len(sys.argv) == 5 else None
    asyncio.run(serve(sys.argv[1], sys.argv[2], float(sys.argv[3]), first))


if __name__ == "__main__":
    main()
