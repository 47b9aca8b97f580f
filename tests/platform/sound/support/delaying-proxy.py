#!/usr/bin/env python3
"""delaying-proxy.py LISTEN UPSTREAM HOLD [FIRST]

A sound server that answers slowly, as a loaded desktop's, one starting at
login or one bridged from another machine answers: a unix socket LISTEN whose
connections are passed on to the pulse socket UPSTREAM, with each packet the
server sends held HOLD seconds before the client gets it (only the first
FIRST packets of each connection, when given). What the client sends goes on
at once; the order of the packets never changes. Passes no descriptors, so it
carries only a server that does not hand its clients memory or ring buffers
(PipeWire's pulse side). Prints "listening" once it accepts connections.
"""

import asyncio
import os
import struct
import sys

DESCRIPTOR = struct.Struct(">IIIII")  # length, channel, offset high and low, flags


async def client_to_server(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except ConnectionError:
        pass
    finally:
        writer.close()


async def server_to_client(reader, writer, hold, first):
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
            head = await reader.readexactly(DESCRIPTOR.size)
            body = await reader.readexactly(DESCRIPTOR.unpack(head)[0])
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
        await asyncio.gather(client_to_server(client_reader, server_writer),
                             server_to_client(server_reader, client_writer, hold, first),
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
    first = int(sys.argv[4]) if len(sys.argv) == 5 else None
    asyncio.run(serve(sys.argv[1], sys.argv[2], float(sys.argv[3]), first))


if __name__ == "__main__":
    main()
