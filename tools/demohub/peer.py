"""The sharing side of a client-to-client connection, played for a demo user.

A passive client asks for a download with "$RevConnectToMe <client> <owner>".
The owner answers like an active user: the hub opens a one-shot listener on
127.0.0.1, sends the client "$ConnectToMe <client> 127.0.0.1:<port>", and
the connection that arrives there runs this exchange (legacy $Get):

  client: $MyNick <client>|$Lock <lock> Pk=<id>|
  owner:  $MyNick <owner>|$Lock ... Pk=DEMOHUB|$Supports ...|$Direction Upload 17767|$Key <key>|
  client: $Supports ...|$Direction Download ...|$Key ...|$Get <path>$<1-based offset>|
  owner:  $FileLength <size>|        or $Error File Not Available| and close
  client: $Send|
  owner:  the bytes from the offset to the end

The greeting goes out in one write because the client reads it with one
receive.  The owner's role changes the script (slow, halfway, mask, silent,
see population.py).  Every wait has a time limit; the listener closes after
its one connection or after LISTEN_SECONDS.
"""

import asyncio
import logging
import socket

from .lockkey import lock_of, lock_to_key

LISTEN_SECONDS = 60
READ_SECONDS = 30
SILENT_SECONDS = 300
MAX_MESSAGE_BYTES = 16 * 1024
OWNER_LOCK = b"EXTENDEDPROTOCOLABCABCABCABCABCABC"
MASK_NICK = "Zorro"
SLOW_TICKS_PER_SECOND = 10

log = logging.getLogger("demohub.peer")


def enc(text: str) -> bytes:
    return text.encode("cp1251", errors="replace")


def dec(data: bytes) -> str:
    return data.decode("cp1251", errors="replace")


async def offer_connection(hub, owner, client_nick: str, client_session) -> None:
    """Open the listener and send $ConnectToMe to the client."""
    accepted = asyncio.Event()

    async def on_connect(reader, writer):
        if accepted.is_set():   # one connection per request
            writer.close()
            return
        accepted.set()
        server.close()
        hub.track(writer)
        try:
            await serve(hub, owner, reader, writer)
        except (ConnectionError, asyncio.IncompleteReadError, asyncio.TimeoutError,
                asyncio.LimitOverrunError, ValueError, OSError) as e:
            log.debug("peer %s: %r", owner.nick, e)
        finally:
            hub.untrack(writer)
            writer.close()

    server = await asyncio.start_server(on_connect, "127.0.0.1", 0, limit=MAX_MESSAGE_BYTES)
    port = server.sockets[0].getsockname()[1]
    client_session.send("$ConnectToMe %s 127.0.0.1:%d|" % (client_nick, port))
    try:
        await asyncio.wait_for(accepted.wait(), LISTEN_SECONDS)
    except asyncio.TimeoutError:
        log.info("nobody came for %s's $ConnectToMe on port %d", owner.nick, port)
    finally:
        server.close()


async def read_message(reader) -> bytes:
    data = await asyncio.wait_for(reader.readuntil(b"|"), READ_SECONDS)
    return data[:-1]


async def serve(hub, owner, reader, writer) -> None:
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    lock = None
    while lock is None:
        msg = await read_message(reader)
        if msg.startswith(b"$Lock "):
            lock = lock_of(msg)
        elif msg.startswith(b"$MyNick "):
            log.info("%s: peer says it is %s", owner.nick, dec(msg[8:]))
    nick = MASK_NICK if owner.role == "mask" else owner.nick
    writer.write(enc("$MyNick %s|" % nick) + b"$Lock " + OWNER_LOCK + b" Pk=DEMOHUB|"
                 b"$Supports MiniSlots XmlBZList ADCGet TTHF|$Direction Upload 17767|"
                 b"$Key " + lock_to_key(lock) + b"|")
    await writer.drain()
    if owner.role == "silent":
        await idle_until_closed(reader)
        return
    while True:   # a client may fetch several files on one connection
        request = await next_get(reader)
        if request is None:
            return
        if not await answer_get(hub, owner, request, reader, writer):
            return


async def idle_until_closed(reader) -> None:
    try:
        while await asyncio.wait_for(reader.read(4096), SILENT_SECONDS):
            pass
    except asyncio.TimeoutError:
        pass


async def next_get(reader):
    """The text after "$Get " of the next request, None when the peer left."""
    while True:
        try:
            msg = await read_message(reader)
        except asyncio.IncompleteReadError:
            return None
        if msg.startswith(b"$Get "):
            return dec(msg[5:])
        # $Supports, $Direction and the echoed $Key are not checked: real
        # sharing clients do not check them either.


async def answer_get(hub, owner, request: str, reader, writer) -> bool:
    path, _, offset_text = request.rpartition("$")
    real = owner.real.get(path.lstrip("\\").lower())
    try:
        start = int(offset_text) - 1
    except ValueError:
        start = -1
    if real is None or start < 0 or start > real.size:
        log.info("%s: no file %r", owner.nick, path)
        writer.write(b"$Error File Not Available|")
        await writer.drain()
        return False
    writer.write(b"$FileLength %d|" % real.size)
    await writer.drain()
    while True:
        msg = await read_message(reader)
        if msg == b"$Send":
            break
    log.info("%s sends %s from %d", owner.nick, real.path, start)
    count = real.size - start
    if owner.role == "halfway":
        await send_file(writer, real, start, count // 2)
        return False
    if owner.role == "slow":
        await send_slowly(writer, real, start, count, hub.options.slow_kibps * 1024)
        return True
    await send_file(writer, real, start, count)
    return True


async def send_file(writer, real, start: int, count: int) -> None:
    if count <= 0:
        return
    loop = asyncio.get_running_loop()
    with open(real.disk, "rb") as fh:
        # os.sendfile under the hood: the page cache goes straight to the socket
        await loop.sendfile(writer.transport, fh, start, count)


async def send_slowly(writer, real, start: int, count: int, bytes_per_second: int) -> None:
    step = max(1, bytes_per_second // SLOW_TICKS_PER_SECOND)
    with open(real.disk, "rb") as fh:
        fh.seek(start)
        left = count
        while left > 0:
            chunk = fh.read(min(step, left))
            if not chunk:
                break
            writer.write(chunk)
            await writer.drain()
            left -= len(chunk)
            await asyncio.sleep(1.0 / SLOW_TICKS_PER_SECOND)
