#!/usr/bin/env python3
"""A plain fetch of one file from the demo hub, as the yardstick for Kivo's
own download of the same file: log in, $RevConnectToMe, connect to the
address in $ConnectToMe, the peer handshake, $Get, $FileLength, $Send, and
then dd copies the socket to the file in blocks of 49900 bytes (Kivo's
worker writes each receive of at most 49900 bytes; dd gathers a whole block
first, as its byte count needs) until the announced length. Prints the
seconds from the $RevConnectToMe to the last byte on disk, the span Kivo's
figure covers too.

With --tls the fetcher's $MyINFO offers TLS (flag byte bit 0x10), the owner
answers with a port marked S, and the same exchange runs inside Python's ssl
(certificate not verified, as Kivo does); the bytes are then copied to the
file in a loop of receives of at most 49900 bytes, since dd cannot read TLS.

    plain_fetch.py [--tls] <hub-port> <owner> <share path> <bytes> <output file>
"""

import os
import socket
import ssl
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))

from demohub.lockkey import lock_of, lock_to_key  # noqa: E402

TIMEOUT_S = 30.0
CHUNK_BYTES = 49900
NICK = b"plainfetch"


class Messages:
    """'|'-terminated messages from a blocking socket."""

    def __init__(self, sock):
        self.sock, self.buf = sock, b""

    def next(self):
        while b"|" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("closed")
            self.buf += chunk
        msg, _, self.buf = self.buf.partition(b"|")
        return msg

    def until(self, prefix):
        while True:
            msg = self.next()
            if msg.startswith(prefix):
                return msg


def login(port, tls):
    hub = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT_S)
    messages = Messages(hub)
    key = lock_to_key(lock_of(messages.next()))
    hub.sendall(b"$Supports NoHello |$Key " + key + b"|$ValidateNick " + NICK + b"|$Version 1,0091|"
                b"$GetNickList|$MyINFO $ALL " + NICK + b" plain$ $DSL" + (b"\x11" if tls else b"\x01") + b"$$0$|")
    messages.until(b"<Hub-Security> Welcome")
    return hub, messages


def fetch(port, owner, path, size, out_path, tls):
    hub, messages = login(port, tls)
    start = time.monotonic()
    hub.sendall(b"$RevConnectToMe " + NICK + b" " + owner + b"|")
    host, peer_port = messages.until(b"$ConnectToMe ").split(b" ")[2].split(b":")
    if peer_port.endswith(b"S") != tls:
        raise SystemExit("the owner's port %s is not what --tls asks for" % peer_port.decode())
    peer = socket.create_connection((host.decode(), int(peer_port.rstrip(b"S"))), timeout=TIMEOUT_S)
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        peer = context.wrap_socket(peer)
    peer.sendall(b"$MyNick " + NICK + b"|$Lock EXTENDEDPROTOCOLABCABCABCABCABCABC Pk=PLAIN|")
    replies = Messages(peer)
    greeting_key = replies.until(b"$Key ")
    peer.sendall(b"$Supports MiniSlots |$Direction Download 1|" + greeting_key + b"|$Get " + path + b"$1|")
    length = int(replies.until(b"$FileLength ").split(b" ")[1])
    if length != size:
        raise SystemExit("the peer announced %d bytes, not %d" % (length, size))
    if replies.buf:
        raise SystemExit("the peer sent file bytes before $Send")
    peer.settimeout(None)  # dd reads the descriptor, which must block
    peer.sendall(b"$Send|")
    if tls:
        copy_tls(peer, size, out_path)
    else:
        copy_plain(peer, size, out_path)
    seconds = time.monotonic() - start
    peer.close()
    hub.close()
    got = os.stat(out_path).st_size
    if got != size:
        raise SystemExit("got %d of %d bytes" % (got, size))
    return seconds


def copy_tls(peer, size, out_path):
    left = size
    buffer = bytearray(CHUNK_BYTES)
    with open(out_path, "wb") as out:
        while left > 0:
            got = peer.recv_into(buffer, min(CHUNK_BYTES, left))
            if got == 0:
                break
            out.write(memoryview(buffer)[:got])
            left -= got


def copy_plain(peer, size, out_path):
    # count_bytes stops dd at the length (the peer keeps the connection
    # open); it counts short reads as whole blocks unless fullblock is set.
    subprocess.run(["dd", "bs=%d" % CHUNK_BYTES, "iflag=count_bytes,fullblock", "count=%d" % size,
                    "of=" + out_path, "status=none"], stdin=peer.fileno(), check=True, timeout=TIMEOUT_S * 10)


def main():
    args = sys.argv[1:]
    tls = args[:1] == ["--tls"]
    port, owner, path, size, out_path = args[1:6] if tls else args[0:5]
    seconds = fetch(int(port), owner.encode("cp1251"), path.encode("cp1251"), int(size), out_path, tls)
    print("%.3f" % seconds)


if __name__ == "__main__":
    main()
