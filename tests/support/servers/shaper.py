#!/usr/bin/env python3
"""A TCP relay on loopback that behaves like a real link in front of another server.

    shaper.py --target PORT --port-file FILE [--rate BYTES_PER_S] [--line BYTES_PER_S] [--rtt MS]

Every connection accepted on 127.0.0.1 (the port goes to --port-file) is relayed to
127.0.0.1:PORT, and on its way:

  --rate   holds each connection's downstream (server to client) to that many bytes a second,
           across all the requests it carries: a CDN's limit per connection, which a server's own
           limit per response (nginx's limit_rate) is not;
  --line   holds the downstream of all connections together to that rate: the user's line;
  --rtt    delays every byte by half of that round trip in each direction, and a new connection
           by a whole one before its first byte goes on (the handshake a real link costs).

Rates are token buckets with a burst of a few milliseconds' worth, never a second's allowance at
once, so short requests on a kept-alive connection cannot slip through. What the client does not
read yet backs up to the server as on a real link: the relay holds only what is in flight.
Standard library only.
"""
import argparse
import asyncio
import collections
import os
import time

CHUNK = 16384
# A bucket never holds more than this many seconds' worth (and at least a chunk).
BURST_SECONDS = 0.005


class Bucket:
    """Bytes a second with a small burst. Taking more than it holds runs it into debt; the taker
    waits the debt out, so that takers share the rate in the order they came."""

    def __init__(self, rate):
        self.rate = float(rate)
        self.burst = max(CHUNK, self.rate * BURST_SECONDS)
        self.tokens = self.burst
        self.stamp = time.monotonic()

    def take(self, count):
        """Takes count bytes; returns the seconds to wait before sending them."""
        now = time.monotonic()
        self.tokens = min(self.burst, self.tokens + (now - self.stamp) * self.rate)
        self.stamp = now
        self.tokens -= count
        return 0.0 if self.tokens >= 0 else -self.tokens / self.rate


class Direction:
    """One direction of one connection: read, limited, delayed, written."""

    def __init__(self, reader, writer, delay, buckets, start_after, on_broken):
        self.on_broken = on_broken
        self.reader = reader
        self.writer = writer
        self.delay = delay
        self.buckets = buckets
        self.start_after = start_after
        self.queue = collections.deque()  # (due time, bytes)
        self.queued = 0
        self.more = asyncio.Event()
        self.room = asyncio.Event()
        self.room.set()
        # In flight at most a delay's worth at the fastest rate, and never less than some chunks.
        fastest = min((b.rate for b in buckets), default=100e6)
        self.limit = max(8 * CHUNK, int(fastest * max(delay, 0.001) * 2))
        self.ended = False

    async def pump(self):
        """Reads, waits for the rate, and hands the bytes on to the delay line."""
        if self.start_after > 0:
            await asyncio.sleep(self.start_after)
        try:
            while True:
                data = await self.reader.read(CHUNK)
                if not data:
                    break
                wait = max([b.take(len(data)) for b in self.buckets], default=0.0)
                if wait > 0:
                    await asyncio.sleep(wait)
                while self.queued >= self.limit and not self.ended:
                    self.room.clear()
                    await self.room.wait()
                if self.ended:
                    break
                self.queue.append((time.monotonic() + self.delay, data))
                self.queued += len(data)
                self.more.set()
        except (ConnectionError, OSError):
            pass
        self.ended = True
        self.more.set()

    async def deliver(self):
        """Writes what the delay line holds once it is due; closes the write side at the end."""
        try:
            while True:
                if not self.queue:
                    if self.ended:
                        break
                    self.more.clear()
                    await self.more.wait()
                    continue
                due, data = self.queue[0]
                now = time.monotonic()
                if due > now:
                    await asyncio.sleep(due - now)
                self.queue.popleft()
                self.writer.write(data)
                await self.writer.drain()
                self.queued -= len(data)
                self.room.set()
            if self.writer.can_write_eof():
                self.writer.write_eof()
        except (ConnectionError, OSError):
            # The receiver is gone: so is the whole connection, both ways.
            self.ended = True
            self.room.set()
            self.on_broken()


class Relay:
    def __init__(self, target, rate, line, rtt):
        self.target = target
        self.rate = rate
        self.line = Bucket(line) if line else None
        self.half = rtt / 2000.0

    async def serve(self, client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", self.target)
        except OSError:
            client_writer.close()
            return
        down_buckets = [b for b in (Bucket(self.rate) if self.rate else None, self.line) if b]
        def broken():
            client_writer.close()
            server_writer.close()

        up = Direction(client_reader, server_writer, self.half, [], 2 * self.half, broken)
        down = Direction(server_reader, client_writer, self.half, down_buckets, 0, broken)
        await asyncio.gather(up.pump(), up.deliver(), down.pump(), down.deliver())
        for writer in (client_writer, server_writer):
            writer.close()


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--rate", type=float, default=0, help="bytes a second per connection")
    parser.add_argument("--line", type=float, default=0, help="bytes a second for all connections")
    parser.add_argument("--rtt", type=float, default=0, help="round trip in milliseconds")
    args = parser.parse_args()
    relay = Relay(args.target, args.rate, args.line, args.rtt)
    server = await asyncio.start_server(relay.serve, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(f"{port}\n")
    os.replace(tmp, args.port_file)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
