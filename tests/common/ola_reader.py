#!/usr/bin/python3
"""Prints the DMX data that a test's own olad receives (tests/common/OlaReceiver).

Usage: ola_reader.py RPC_PORT UNIVERSE...

Connects to olad on 127.0.0.1:RPC_PORT, waits until every UNIVERSE has an input port
patched to it, registers for their data and prints "ready"; then one line per DMX update,
"<universe> <hex of the slots>" (slot 1 first, no START code). Every line is flushed at
once: the test reads them as they come. Ends with exit status 1 and a message on stderr
when olad cannot be reached, refuses a request, goes away, or the ports stay unpatched.
"""

import socket
import sys
import time

from ola.ClientWrapper import SelectServer
from ola.OlaClient import OlaClient

# Bounds for a busy machine, not measurements; the test bounds its own wait as well.
CONNECT_LIMIT_S = 15.0
PATCH_LIMIT_S = 15.0
POLL_MS = 50


def fail(message):
    print(message, file=sys.stderr, flush=True)
    sys.exit(1)


def connect(port):
    # olad opens its RPC port a moment after it starts.
    deadline = time.monotonic() + CONNECT_LIMIT_S
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port))
        except OSError as error:
            if time.monotonic() > deadline:
                fail("olad does not answer on RPC port %d: %s" % (port, error))
            time.sleep(POLL_MS / 1000)


def main():
    if len(sys.argv) < 3:
        fail("usage: ola_reader.py RPC_PORT UNIVERSE...")
    port = int(sys.argv[1])
    universes = [int(u) for u in sys.argv[2:]]

    server = SelectServer()
    lost = []

    def closed():
        lost.append(True)
        server.Terminate()

    rpc = connect(port)
    client = OlaClient(rpc, close_callback=closed)
    server.AddReadDescriptor(rpc, client.SocketReady)
    deadline = time.monotonic() + PATCH_LIMIT_S
    acks = []

    def printer(universe):
        def show(data):
            print("%d %s" % (universe, bytes(data).hex()), flush=True)
        return show

    def registered(status):
        if not status.Succeeded():
            fail("olad refused to register a universe: %s" % status.message)
        acks.append(True)
        if len(acks) == len(universes):
            print("ready", flush=True)

    def devices(status, found):
        if not status.Succeeded():
            fail("olad did not list its devices: %s" % status.message)
        patched = {p.universe for d in found for p in d.input_ports if p.active}
        missing = [u for u in universes if u not in patched]
        if not missing:
            for u in universes:
                client.RegisterUniverse(u, client.REGISTER, printer(u), registered)
        elif time.monotonic() > deadline:
            fail("olad patched no input port to universe(s) %s" % missing)
        else:
            server.AddEvent(POLL_MS, lambda: client.FetchDevices(devices))

    client.FetchDevices(devices)
    server.Run()
    if lost:
        fail("olad closed the RPC connection")


if __name__ == "__main__":
    main()
