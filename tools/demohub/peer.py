r"""The sharing side of a client-to-client connection, played for a demo user.

A passive client asks for a download with "$RevConnectToMe <client> <owner>".
The owner answers like an active user: the hub opens a one-shot listener on
127.0.0.1, sends the client "$ConnectToMe <client> 127.0.0.1:<port>", and
the connection that arrives there runs this exchange:

  client: $MyNick <client>|$Lock <lock> Pk=<id>|
  owner:  $MyNick <owner>|$Lock ... Pk=DEMOHUB|$Supports MiniSlots XmlBZList ADCGet TTHF|
          $Direction Upload 17767|$Key <key>|
  client: $Supports ...|$Direction Download ...|$Key ...|, then one of
    $ADCGET file <id> <offset> <length>|     (<id>: TTH/<hash> or an ADC path)
  owner:  $ADCSND file <id> <offset> <n>|    and exactly n bytes, no $Send
    $Get <path>$<1-based offset>|            (the legacy request)
  owner:  $FileLength <size>|, and after the client's $Send| the bytes from
          the offset to the end
  owner, for a file it does not have:  $Error File Not Available| and close

The owner's file list is asked the same way, "$ADCGET file files.xml.bz2 0
-1" or "$Get files.xml.bz2$1", and goes out from memory (see filelist.py);
NoSlots, which refuses every file, serves it too, as peers give lists a
mini-slot.

An ADC path is the share path with '/' for '\' and a leading '/', a blank
written "\s", a backslash "\\", a newline "\n".  A length of -1 asks for
the rest of the file; a longer one than the file holds is cut to it (the
$ADCSND tells the length sent); an offset beyond the end is an error.

The greeting goes out in one write because the client reads it with one
receive.  The owner's role changes the script (see population.py): OldDC
greets without ADCGet and closes on $ADCGET; NcdcOnly greets like ncdc
("$Lock EXTENDEDPROTOCOL/wut? Pk=ncdc-1.23.1", "$Supports MiniSlots XmlBZList
ADCGet TTHL TTHF", "$Direction Upload 0") and closes on $Get or on a client
$Supports without ADCGet; NoSlots answers every request "$MaxedOut|" and
closes; slow, halfway, badbyte and resume change the bytes that follow
either answer; mask greets as Zorro; silent never answers.  Every wait has
a time limit; the listener closes after its one connection or after
LISTEN_SECONDS.

TLS: a client whose $MyINFO announces TLS (flag bit 0x10) asking an owner
that offers TLS (Seeder, archivist, Secure) gets "$ConnectToMe <client>
127.0.0.1:<port>S": the listener speaks TLS with the hub's certificate and
the same exchange runs inside it.  Everybody else gets a plain port.  Secure
takes requests over TLS only, as eiskaltdcpp does by default: on a plain
connection it greets as usual and answers $Get or $ADCGET with
"$Error Secure connection required!|" and closes.

An active client sends "$ConnectToMe <owner> <ip>:<port>[S]" itself: the
owner, whatever its own mode, connects there (connect_to; TLS when 'S', any
certificate) and, having opened the connection, speaks first:

  owner:  $MyNick <owner>|$Lock ... Pk=DEMOHUB|
  client: $MyNick <client>|$Lock <lock> Pk=<id>|$Supports ...|
          $Direction Download ...|$Key ...|
  owner:  $Supports MiniSlots XmlBZList ADCGet TTHF|$Direction Upload 17767|
          $Key <key>|

after which the requests and every role run as above (serve() with
speak_first).  Only the hub decides where an owner connects (hub.py).

Text on this connection is in the encoding of the hub port the client came
in on: a client on the UTF-8 port sends its $Get path in UTF-8 and reads the
owner's nick in UTF-8.  An $ADCGET id is taken as UTF-8 or code page 1251,
whichever names a file.
"""

import asyncio
import logging
import socket
import ssl

from .filelist import NAME as LIST_NAME
from .lockkey import lock_of, lock_to_key
from .population import TLS_OFFERED, TLS_REQUIRED
from .realfiles import share_key
from .tls import HANDSHAKE_SECONDS
from .wire import CP1251, decode, encode

LISTEN_SECONDS = 60
CONNECT_SECONDS = 10     # a $ConnectToMe target that does not answer by then is given up
READ_SECONDS = 30
SILENT_SECONDS = 300
MAX_MESSAGE_BYTES = 16 * 1024
OWNER_LOCK = b"EXTENDEDPROTOCOLABCABCABCABCABCABC"
NCDC_LOCK = b"EXTENDEDPROTOCOL/wut?"
ADC_ESCAPES = {"s": " ", "\\": "\\", "n": "\n"}
MASK_NICK = "Zorro"
SLOW_TICKS_PER_SECOND = 10
SECURE_REQUIRED = b"$Error Secure connection required!|"

log = logging.getLogger("demohub.peer")


def over_tls(hub, owner, client_session) -> bool:
    """Whether the owner answers this client with a TLS port."""
    return (hub.tls is not None and client_session.tls
            and owner.tls in (TLS_OFFERED, TLS_REQUIRED))


async def offer_connection(hub, owner, client_nick: str, client_session) -> None:
    """Open the listener and send $ConnectToMe to the client."""
    accepted = asyncio.Event()
    secure = over_tls(hub, owner, client_session)

    async def on_connect(reader, writer):
        if accepted.is_set():   # one connection per request
            writer.close()
            return
        accepted.set()
        server.close()
        await run_connection(hub, owner, reader, writer, client_session.encoding, secure)

    tls = {"ssl": hub.tls.context, "ssl_handshake_timeout": HANDSHAKE_SECONDS} if secure else {}
    server = await asyncio.start_server(on_connect, "127.0.0.1", 0, limit=MAX_MESSAGE_BYTES, **tls)
    port = server.sockets[0].getsockname()[1]
    client_session.send("$ConnectToMe %s 127.0.0.1:%d%s|" % (client_nick, port,
                                                             "S" if secure else ""))
    try:
        await asyncio.wait_for(accepted.wait(), LISTEN_SECONDS)
    except asyncio.TimeoutError:
        log.info("nobody came for %s's $ConnectToMe on port %d", owner.nick, port)
    finally:
        server.close()


async def connect_to(owner, host: str, port: int, secure: bool):
    """The owner answering "$ConnectToMe <owner> <host>:<port>[S]" connects
    there (TLS when secure, any certificate: peers use self-signed ones);
    (reader, writer), or None when that fails.  run_connection(...,
    speak_first=True) then serves it.  Passive users connect too: it is how
    an active client reaches them."""
    tls = {}
    if secure:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        tls = {"ssl": context, "ssl_handshake_timeout": HANDSHAKE_SECONDS}
    try:
        reader, writer = await asyncio.wait_for(
            asyncio.open_connection(host, port, limit=MAX_MESSAGE_BYTES, **tls), CONNECT_SECONDS)
    except (OSError, asyncio.TimeoutError, ssl.SSLError) as e:
        log.info("%s cannot connect to %s:%d: %r", owner.nick, host, port, e)
        return None
    return reader, writer


async def run_connection(hub, owner, reader, writer, encoding: str, secure: bool,
                         speak_first: bool = False) -> None:
    """serve() on one connection, which is closed whatever happens."""
    hub.track(writer)
    try:
        await serve(hub, owner, reader, writer, encoding, secure, speak_first)
    except (ConnectionError, asyncio.IncompleteReadError, asyncio.TimeoutError,
            asyncio.LimitOverrunError, ValueError, OSError) as e:
        log.debug("peer %s: %r", owner.nick, e)
    finally:
        hub.untrack(writer)
        writer.close()


async def read_message(reader) -> bytes:
    data = await asyncio.wait_for(reader.readuntil(b"|"), READ_SECONDS)
    return data[:-1]


def introduction(owner, encoding: str = CP1251) -> bytes:
    """The owner's $MyNick and $Lock (sent first when the owner opened the
    connection, else at the head of its one greeting write)."""
    nick = MASK_NICK if owner.role == "mask" else owner.nick
    if owner.role == "adconly":   # as ncdc 1.23 greets
        return encode("$MyNick %s|" % nick, encoding) + b"$Lock " + NCDC_LOCK + b" Pk=ncdc-1.23.1|"
    return encode("$MyNick %s|" % nick, encoding) + b"$Lock " + OWNER_LOCK + b" Pk=DEMOHUB|"


def negotiation(owner, lock: bytes) -> bytes:
    """$Supports, $Direction Upload and the $Key of the other side's lock."""
    key = lock_to_key(lock)
    if owner.role == "adconly":
        return (b"$Supports MiniSlots XmlBZList ADCGet TTHL TTHF|$Direction Upload 0|"
                b"$Key " + key + b"|")
    supports = b"MiniSlots XmlBZList ADCGet TTHF" if owner.adc else b"MiniSlots XmlBZList"
    return b"$Supports " + supports + b"|$Direction Upload 17767|$Key " + key + b"|"


async def read_lock(owner, reader, encoding: str) -> bytes:
    """The other side's lock; its $MyNick before it is only logged."""
    while True:
        msg = await read_message(reader)
        if msg.startswith(b"$Lock "):
            return lock_of(msg)
        if msg.startswith(b"$MyNick "):
            log.info("%s: peer says it is %s", owner.nick, decode(msg[8:], encoding))


async def serve(hub, owner, reader, writer, encoding: str = CP1251, secure: bool = False,
                speak_first: bool = False) -> None:
    """The owner's side of one connection.  speak_first: the owner opened
    it (an answer to $ConnectToMe), so its $MyNick and $Lock go out before
    anything is read; otherwise they lead its one greeting write."""
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    if speak_first:
        writer.write(introduction(owner, encoding))
        await writer.drain()
    lock = await read_lock(owner, reader, encoding)
    writer.write((b"" if speak_first else introduction(owner, encoding)) + negotiation(owner, lock))
    await writer.drain()
    if owner.role == "silent":
        await idle_until_closed(reader)
        return
    while True:   # a client may fetch several files on one connection
        kind, request = await next_request(owner, reader, encoding)
        if kind is not None and owner.tls == TLS_REQUIRED and not secure:
            log.info("%s takes requests over TLS only", owner.nick)
            await refuse(writer, SECURE_REQUIRED)
            return
        if kind == "get":
            keep = await answer_get(hub, owner, request, reader, writer)
        elif kind == "adcget":
            keep = await answer_adcget(hub, owner, request, writer)
        else:
            return
        if not keep:
            return


async def idle_until_closed(reader) -> None:
    try:
        while await asyncio.wait_for(reader.read(4096), SILENT_SECONDS):
            pass
    except asyncio.TimeoutError:
        pass


async def next_request(owner, reader, encoding: str):
    """("get", text after "$Get "), ("adcget", bytes after "$ADCGET "), or
    (None, None) when the peer left or the owner closes the connection."""
    while True:
        try:
            msg = await read_message(reader)
        except asyncio.IncompleteReadError:
            return None, None
        if msg.startswith(b"$Get "):
            if not owner.takes_get:
                log.info("%s closes on a legacy $Get", owner.nick)
                return None, None
            return "get", decode(msg[5:], encoding)
        if msg.startswith(b"$ADCGET "):
            if not owner.adc:
                log.info("%s does not know $ADCGET and closes", owner.nick)
                return None, None
            return "adcget", msg[8:]
        if (msg.startswith(b"$Supports ") and owner.role == "adconly"
                and b"ADCGet" not in msg[10:].split()):
            log.info("%s closes: the downloader's $Supports lacks ADCGet", owner.nick)
            return None, None
        # $Direction and the echoed $Key are not checked: real sharing
        # clients do not check them either.


async def refuse(writer, message: bytes = b"$Error File Not Available|") -> bool:
    writer.write(message)
    await writer.drain()
    return False


async def answer_get(hub, owner, request: str, reader, writer) -> bool:
    path, _, offset_text = request.rpartition("$")
    try:
        start = int(offset_text) - 1
    except ValueError:
        start = -1
    if path == LIST_NAME:
        return await answer_get_list(owner, start, reader, writer)
    if owner.role == "maxedout":
        return await refuse(writer, b"$MaxedOut|")
    real = owner.real.get(share_key(path))
    if real is None or start < 0 or start > real.size:
        log.info("%s: no file %r", owner.nick, path)
        return await refuse(writer)
    writer.write(b"$FileLength %d|" % real.size)
    await writer.drain()
    await wait_for_send(reader)
    log.info("%s sends %s from %d", owner.nick, real.path, start)
    return await deliver(hub, owner, real, start, real.size - start, writer)


def adc_path_to_share(text: str):
    r"""The backslash share path of an ADC path ("/a/b\sc" -> "a\b c"), or
    None when it is not one (no leading '/', an empty name, a bad escape)."""
    if not text.startswith("/"):
        return None
    names, name, i = [], [], 1
    while i < len(text):
        c = text[i]
        if c == "\\":
            plain = ADC_ESCAPES.get(text[i + 1:i + 2])
            if plain is None:
                return None
            name.append(plain)
            i += 2
            continue
        if c == "/":
            names.append("".join(name))
            name = []
        else:
            name.append(c)
        i += 1
    names.append("".join(name))
    if any(not n or "\\" in n for n in names):
        return None   # a backslash inside a name cannot be in an NMDC share
    return "\\".join(names)


def find_adc_file(owner, ident: bytes):
    """The RealFile that "TTH/<hash>" or an ADC path names, or None."""
    if ident.startswith(b"TTH/"):
        return owner.by_tth.get(ident[4:].decode("ascii", "replace").upper())
    # Kivo sends the path in the hub's code page 1251; DC++ and its kin in
    # UTF-8. Either is taken.
    for encoding in ("utf-8", "cp1251"):
        try:
            path = adc_path_to_share(ident.decode(encoding))
        except UnicodeDecodeError:
            continue
        real = owner.real.get(share_key(path)) if path is not None else None
        if real is not None:
            return real
    return None


async def answer_adcget(hub, owner, request: bytes, writer) -> bool:
    fields = request.split(b" ")
    try:
        start, length = int(fields[2]), int(fields[3])
    except (IndexError, ValueError):
        start, length = -1, -1
    if fields[:2] == [b"file", LIST_NAME.encode("ascii")]:
        return await answer_adcget_list(owner, fields[1], start, length, writer)
    if owner.role == "maxedout":
        return await refuse(writer, b"$MaxedOut|")
    real = None
    if len(fields) >= 4 and fields[0] == b"file":
        real = find_adc_file(owner, fields[1])
    if real is None or start < 0 or start > real.size or length < -1:
        log.info("%s: cannot serve $ADCGET %r", owner.nick, request[:200])
        return await refuse(writer)
    count = real.size - start if length == -1 else min(length, real.size - start)
    writer.write(b"$ADCSND file " + fields[1] + b" %d %d|" % (start, count))
    await writer.drain()
    log.info("%s sends %s from %d, %d bytes (ADC)", owner.nick, real.path, start, count)
    return await deliver(hub, owner, real, start, count, writer)


async def wait_for_send(reader) -> None:
    while True:
        msg = await read_message(reader)
        if msg == b"$Send":
            return


# The file list goes out whole and at once from every user that answers a
# request (a mini-slot: NoSlots too); the roles that spoil or slow down
# files (HalfWay, BadByte, Resumer, Slowpoke) leave it alone.  Secure still
# takes it over TLS only, Sleepy still never answers, NcdcOnly and OldDC
# keep to their one kind of request.

async def answer_get_list(owner, start: int, reader, writer) -> bool:
    data = owner.file_list
    if not 0 <= start <= len(data):
        return await refuse(writer)
    writer.write(b"$FileLength %d|" % len(data))
    await writer.drain()
    await wait_for_send(reader)
    log.info("%s sends its file list from %d", owner.nick, start)
    writer.write(data[start:])
    await writer.drain()
    return True


async def answer_adcget_list(owner, ident: bytes, start: int, length: int, writer) -> bool:
    data = owner.file_list
    if not 0 <= start <= len(data) or length < -1:
        return await refuse(writer)
    count = len(data) - start if length == -1 else min(length, len(data) - start)
    log.info("%s sends its file list from %d, %d bytes (ADC)", owner.nick, start, count)
    writer.write(b"$ADCSND file " + ident + b" %d %d|" % (start, count) + data[start:start + count])
    await writer.drain()
    return True


async def deliver(hub, owner, real, start: int, count: int, writer) -> bool:
    """Send count bytes of the file from start, as the owner's role has it;
    False when the connection is to close afterwards."""
    if owner.role == "halfway":
        await send_file(writer, real, start, count // 2)
        return False
    if owner.role == "resume":
        middle = real.size // 2
        if start < middle < start + count:
            await send_file(writer, real, start, middle - start)
            return False
    if owner.role == "slow":
        await send_slowly(writer, real, start, count, hub.options.slow_kibps * 1024)
        return True
    if owner.role == "badbyte":
        await send_with_bad_byte(writer, real, start, count, bad_byte_offset(real))
        return True
    await send_file(writer, real, start, count)
    return True


def bad_byte_offset(real) -> int:
    """Where BadByte's data differs from its file: in the middle."""
    return real.size // 2


async def send_with_bad_byte(writer, real, start: int, count: int, bad: int) -> None:
    if not start <= bad < start + count:
        await send_file(writer, real, start, count)
        return
    await send_file(writer, real, start, bad - start)
    with open(real.disk, "rb") as fh:
        fh.seek(bad)
        true_byte = fh.read(1)
    writer.write(bytes([true_byte[0] ^ 0xFF]))
    await writer.drain()
    await send_file(writer, real, bad + 1, start + count - bad - 1)


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
