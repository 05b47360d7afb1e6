#!/usr/bin/env python3
r"""A passive downloader on the demo hub, for looking at real sharing clients.

It logs into the hub as a passive user and then does one of two things:

  search  sends "$Search Hub:<nick> F?T?0?1?<words>" (words joined by '$')
          again every SEARCH_REPEAT_SECONDS until a $SR from the wanted peer
          arrives, prints every $SR it sees, and ends 0; 1 when time runs out.
          With --udp it is an active search, "$Search 127.0.0.1:<port> ...":
          results come as datagrams to that UDP port (or through the hub);
          a passive client answers only those.
  get     sends "$RevConnectToMe <nick> <peer>", follows the peer's
          "$ConnectToMe <nick> <ip>:<port>", greets it as a downloader and
          sends the requests given, one after the other on that connection,
          printing each reply and writing the bytes to --out at the offset the
          reply names (the file is created when missing, never truncated, so
          a second run can continue a file).

Requests go out in the order --get, --legacy-get, --raw; the first carries
the downloader's "$Supports MiniSlots ADCGet TTHF |$Direction Download 21356|"
and the peer's own $Key sent back (--key computed answers its $Lock instead).

Output is one line per event, the first word naming it (MYINFO, SENT, SR,
RESULT, CTM, GREETING, REPLY, ADCSND, DATA, OPEN, CLOSED, ERROR); protocol
bytes are shown escaped (a backslash as \\, anything outside printable
ASCII as \xNN), so the lines show exactly what came over the wire. "search"
prints one RESULT line, tab-separated: nick, path (decoded from the hub's
encoding), size, TTH. "get" ends 0 when the exchange ran, whatever the peer
answered, and 1 when the probe itself could not go on (time ran out, a
refused login, a malformed reply); ERROR says which step.

Every byte from the hub and the peer is untrusted: a message is read up to
'|' within MAX_MESSAGE_BYTES, a reply's length is capped by --max-bytes, and
the probe connects only to loopback addresses (a $ConnectToMe that names any
other address is refused, not followed). Every wait ends by --timeout.

With --tls its $MyINFO offers TLS transfers (flag byte 0x11) and a
$ConnectToMe port marked S is followed over TLS (the peer's certificate is
not checked); without it such a port is an error.

Hub text is code page 1251 (--encoding changes it); the lock-to-key
transform is the demo hub's own.
"""

import argparse
import ipaddress
import os
import socket
import ssl
import sys
import time

sys.dont_write_bytecode = True   # a probe run leaves nothing in the work tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from demohub.lockkey import lock_of, lock_to_key  # noqa: E402

MAX_MESSAGE_BYTES = 64 * 1024      # longer than any command a client sends
RECEIVE_BYTES = 64 * 1024
SEARCH_REPEAT_SECONDS = 2.0
PROBE_LOCK = b"EXTENDEDPROTOCOLABCABCABCABCABCABC"
PROBE_PK = b"KIVOPROBE"
PROBE_SUPPORTS = b"$Supports MiniSlots ADCGet TTHF |"
PROBE_DIRECTION = b"$Direction Download 21356|"


class ProbeError(Exception):
    pass


def shown(data: bytes) -> str:
    r"""Bytes as printable ASCII (a backslash doubled), everything else as \xNN."""
    out = []
    for b in data:
        if b == 0x5C:
            out.append("\\\\")
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append("\\x%02x" % b)
    return "".join(out)


def say(kind: str, text: str) -> None:
    print("%s %s" % (kind, text), flush=True)


def loopback_address(host: str, port_text: str):
    """(host, port) when host is an IPv4 loopback address and the port valid."""
    try:
        ip = ipaddress.IPv4Address(host)
        port = int(port_text)
    except ValueError:
        return None
    if not ip.is_loopback or not 0 < port < 65536:
        return None
    return str(ip), port


class Wire:
    """One TCP connection read as NMDC commands ('|'-terminated) and raw bytes."""

    def __init__(self, address, deadline: float, tls: bool = False):
        self.deadline = deadline
        left = self.left()
        self.sock = socket.create_connection(address, timeout=left)
        if tls:   # a peer's self-signed certificate: taken as it is
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            self.sock = context.wrap_socket(self.sock)
        self.buf = b""
        self.closed = False

    def left(self) -> float:
        left = self.deadline - time.monotonic()
        if left <= 0:
            raise ProbeError("time ran out")
        return left

    def send(self, data: bytes) -> None:
        self.sock.settimeout(self.left())
        self.sock.sendall(data)

    def fill(self, until: float = None) -> bool:
        """Receives more bytes; False when the peer closed or `until` passed.
        Without `until`, running past the deadline is an error."""
        end = self.deadline if until is None else min(until, self.deadline)
        left = end - time.monotonic()
        try:
            if left <= 0:
                raise socket.timeout()
            self.sock.settimeout(left)
            data = self.sock.recv(RECEIVE_BYTES)
        except socket.timeout:
            if until is not None:
                return False
            raise ProbeError("time ran out")
        except (ConnectionResetError, ssl.SSLError):
            data = b""
        if not data:
            self.closed = True
            return False
        self.buf += data
        return True

    def command(self, until: float = None):
        """The next command without its '|'; None when the peer closed first
        or `until` passed. An overlong message is an error, not cut."""
        while True:
            end = self.buf.find(b"|")
            if end >= 0:
                msg, self.buf = self.buf[:end], self.buf[end + 1:]
                return msg
            if len(self.buf) > MAX_MESSAGE_BYTES:
                raise ProbeError("a message longer than %d bytes" % MAX_MESSAGE_BYTES)
            if self.closed or not self.fill(until):
                return None

    def exactly(self, count: int, sink) -> int:
        """Passes the next count bytes to sink; returns how many came before
        the peer closed."""
        got = 0
        while got < count:
            if not self.buf:
                if self.closed or not self.fill():
                    return got
            piece = self.buf[:count - got]
            self.buf = self.buf[len(piece):]
            sink(piece)
            got += len(piece)
        return got

    def until_quiet(self, sink, quiet: float, limit: int) -> int:
        """Passes on every byte until the peer closes or sends nothing for
        `quiet` seconds; more than limit bytes is an error."""
        got = 0
        while True:
            if self.buf:
                got += len(self.buf)
                if got > limit:
                    raise ProbeError("more than %d bytes" % limit)
                sink(self.buf)
                self.buf = b""
            if self.closed or not self.fill(until=time.monotonic() + quiet):
                return got

    def close(self) -> None:
        try:
            self.sock.close()
        except OSError:
            pass


class HubSession:
    """The probe's session on the hub."""

    def __init__(self, args, deadline: float):
        self.args = args
        self.nick = args.nick.encode(args.encoding)
        self.wire = Wire(args.hub, deadline)
        self.seen_myinfo = {}

    def text(self, s: str) -> bytes:
        return s.encode(self.args.encoding)

    def login(self) -> None:
        first = self.wire.command()
        if first is None or not first.startswith(b"$Lock "):
            raise ProbeError("the hub did not start with $Lock: %r" % first)
        self.wire.send(b"$Supports NoGetINFO NoHello |$Key " + lock_to_key(lock_of(first)) +
                       b"|$ValidateNick " + self.nick + b"|")
        sent_info = False
        while True:
            msg = self.wire.command()
            if msg is None:
                raise ProbeError("the hub closed the connection during the login")
            if msg.startswith(b"$ValidateDenide") or msg.startswith(b"$BadPass") \
                    or msg.startswith(b"$GetPass"):
                raise ProbeError("login refused: %s" % shown(msg))
            self.note(msg)
            if msg == b"$Hello " + self.nick and not sent_info:
                # Passive ("M:P"), one slot, nothing shared; with --tls the
                # flag byte offers TLS transfers (0x10).
                flag = b"\x11" if self.args.tls else b"\x01"
                mode = b"A" if getattr(self.args, "udp", False) else b"P"
                self.wire.send(b"$Version 1,0091|$MyINFO $ALL " + self.nick +
                               b" probe<KivoProbe V:1,M:" + mode + b",H:1/0/0,S:1>$ $100" + flag + b"$$0$|")
                sent_info = True
            elif msg.startswith(b"$MyINFO $ALL " + self.nick + b" "):
                return   # the hub relays our own $MyINFO last in its user list

    def note(self, msg: bytes) -> None:
        if msg.startswith(b"$MyINFO $ALL "):
            nick = msg[len(b"$MyINFO $ALL "):].split(b" ", 1)[0]
            self.seen_myinfo[nick] = msg
            if nick == self.text(self.args.peer or ""):
                say("MYINFO", shown(msg))
        elif msg.startswith(b"$Quit "):
            self.seen_myinfo.pop(msg[len(b"$Quit "):], None)


def parse_sr(msg: bytes):
    r"""(nick, path, size, tth-or-None, hubfield) of a file result, None for a
    folder result or a malformed one. The form is
    "$SR <nick> <path>\x05<size> <free>/<total>\x05<hub name or TTH:hash> (<hub ip:port>)"."""
    body = msg[len(b"$SR "):]
    nick, sep, rest = body.partition(b" ")
    parts = rest.split(b"\x05")
    if not sep or len(parts) < 3:
        return None
    path, size_slots, hubfield = parts[0], parts[1], parts[2]
    size_text = size_slots.split(b" ", 1)[0]
    if not size_text.isdigit():
        return None
    tth = None
    if hubfield.startswith(b"TTH:"):
        tth = hubfield[4:].split(b" ", 1)[0]
    return nick, path, int(size_text), tth, hubfield


def run_search(args, deadline: float) -> int:
    hub = HubSession(args, deadline)
    udp = None
    try:
        hub.login()
        words = "$".join(args.words)
        if args.udp:
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            udp.bind(("127.0.0.1", 0))
            udp.setblocking(False)
            query = hub.text("$Search 127.0.0.1:%d F?T?0?1?%s|" % (udp.getsockname()[1], words))
        else:
            query = hub.text("$Search Hub:%s F?T?0?1?%s|" % (args.nick, words))
        want = hub.text(args.peer) if args.peer else None
        found = False
        next_search = 0.0
        while not found:
            now = time.monotonic()
            if now >= deadline:
                break
            if now >= next_search:
                hub.wire.send(query)
                say("SENT", shown(query))
                next_search = now + SEARCH_REPEAT_SECONDS
            msg = None
            if udp is not None:
                try:
                    msg = udp.recv(MAX_MESSAGE_BYTES).rstrip(b"|")
                    say("UDP", shown(msg))
                except BlockingIOError:
                    msg = None
            if msg is None:
                wait = min(next_search, deadline)
                if udp is not None:
                    wait = min(wait, time.monotonic() + 0.1)
                msg = hub.wire.command(until=wait)
                if msg is None:
                    if hub.wire.closed:
                        raise ProbeError("the hub closed the connection")
                    continue
                hub.note(msg)
            if not msg.startswith(b"$SR "):
                continue
            say("SR", shown(msg))
            result = parse_sr(msg)
            if result is None:
                continue
            nick, path, size, tth, _ = result
            if want is not None and nick != want:
                continue
            if args.need_tth and tth is None:
                continue
            enc = args.encoding
            say("RESULT", "\t".join((nick.decode(enc, "replace"), path.decode(enc, "replace"),
                                     str(size), (tth or b"").decode("ascii", "replace"))))
            found = True
        if not found:
            seen = hub.seen_myinfo.get(hub.text(args.peer)) if args.peer else None
            say("ERROR", "no result from %s within the time; its $MyINFO: %s"
                % (args.peer or "anybody", shown(seen) if seen else "not seen"))
            return 1
        return 0
    finally:
        if udp is not None:
            udp.close()
        hub.wire.close()


def wait_connect_to_me(hub, peer: bytes):
    """Sends $RevConnectToMe and returns (address, TLS or not) of the
    $ConnectToMe that answers it (loopback only; a port marked S only with
    --tls)."""
    rev = b"$RevConnectToMe " + hub.nick + b" " + peer + b"|"
    hub.wire.send(rev)
    say("SENT", shown(rev))
    while True:
        msg = hub.wire.command()
        if msg is None:
            raise ProbeError("the hub closed the connection before a $ConnectToMe came")
        hub.note(msg)
        if not msg.startswith(b"$ConnectToMe "):
            continue
        say("CTM", shown(msg))
        fields = msg.split(b" ")
        if len(fields) != 3 or fields[1] != hub.nick:
            continue
        host, _, port = fields[2].decode("ascii", "replace").rpartition(":")
        tls = port.endswith("S")
        if tls and not hub.args.tls:
            raise ProbeError("the peer offers only an encrypted connection: %s" % shown(msg))
        address = loopback_address(host, port[:-1] if tls else port)
        if address is None:
            raise ProbeError("refusing to connect to a non-loopback address: %s" % shown(msg))
        return address, tls


def greet(peer_wire, nick: bytes):
    """Sends the downloader's greeting and reads the peer's up to its $Key.
    Returns (greeting bytes, the peer's $Key message, the peer's lock)."""
    peer_wire.send(b"$MyNick " + nick + b"|$Lock " + PROBE_LOCK + b" Pk=" + PROBE_PK + b"|")
    greeting = b""
    lock = None
    while True:
        msg = peer_wire.command()
        if msg is None:
            raise ProbeError("the peer closed during its greeting: %s" % shown(greeting))
        greeting += msg + b"|"
        if msg.startswith(b"$Lock "):
            lock = lock_of(msg)
        if msg.startswith(b"$Key "):
            return greeting, msg, lock


class Output:
    """The file the replies' bytes go to, each at the offset its reply names."""

    def __init__(self, path):
        self.fh = None
        if path:
            fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
            self.fh = os.fdopen(fd, "r+b")

    def at(self, offset: int):
        if self.fh is None:
            return lambda piece: None
        self.fh.seek(offset)
        return self.fh.write

    def close(self) -> None:
        if self.fh is not None:
            self.fh.close()


def parse_adcsnd(msg: bytes):
    r"""(id, offset, length, flags) of "$ADCSND <type> <id> <offset> <length>[ <flags>]",
    read from the right: an id may hold a blank that the peer did not write
    as "\s" (ncdc and eiskaltdcpp send "\ "), so the id is whatever lies between the type
    and the two numbers. Flags are the tokens after the length that are not
    numbers. None when malformed."""
    tokens = msg.split(b" ")
    flags = []
    while len(tokens) > 4 and not is_number(tokens[-1]):
        flags.insert(0, tokens.pop())
    if len(tokens) < 5 or not is_number(tokens[-1]) or not is_number(tokens[-2]):
        return None
    return b" ".join(tokens[2:-2]), int(tokens[-2]), int(tokens[-1]), b" ".join(flags)


def is_number(token: bytes) -> bool:
    """A decimal number, a leading '-' allowed: a peer has been seen to
    announce a negative length, which must be shown, not taken for a flag."""
    digits = token[1:] if token.startswith(b"-") else token
    return digits.isdigit()


def asked_id(request: bytes) -> bytes:
    """The id of an "$ADCGET <type> <id> <offset> <length>|" request."""
    tokens = request.rstrip(b"|").split(b" ")
    return b" ".join(tokens[2:-2])


def read_reply(peer_wire, request: bytes, out: Output, max_bytes: int, quiet: float) -> bool:
    """Reads the answer to one request; True when the connection may serve
    another one."""
    legacy = request.startswith(b"$Get ")
    while True:
        msg = peer_wire.command()
        if msg is None:
            say("CLOSED", "the peer closed the connection without a reply")
            return False
        say("REPLY", shown(msg))
        if msg.startswith(b"$ADCSND "):
            parsed = parse_adcsnd(msg)
            if parsed is None:
                raise ProbeError("malformed $ADCSND: %s" % shown(msg))
            ident, offset, length, flags = parsed
            say("ADCSND", "id=%s offset=%d length=%d flags=%s id-as-asked=%s"
                % (shown(ident), offset, length, shown(flags) if flags else "none",
                   "yes" if ident == asked_id(request) else "no"))
            return read_bytes(peer_wire, out, offset, length, max_bytes)
        if legacy and msg.startswith(b"$FileLength "):
            text = msg[len(b"$FileLength "):]
            if not text.isdigit():
                raise ProbeError("malformed $FileLength: %s" % shown(msg))
            offset_text = request[:-1].rpartition(b"$")[2]
            offset = int(offset_text) - 1 if offset_text.isdigit() and offset_text != b"0" else 0
            peer_wire.send(b"$Send|")
            say("SENT", "$Send|")
            # Peers differ on whether $FileLength is the file's size or the
            # count from the offset on, so the bytes are read until the peer
            # closes or stays quiet, and the count is shown beside both.
            got = peer_wire.until_quiet(out.at(offset), quiet, max_bytes)
            say("DATA", "%d bytes at offset %d after $Send, $FileLength %d" % (got, offset, int(text)))
            return not peer_wire.closed
        if msg.startswith(b"$Error") or msg == b"$MaxedOut" or msg.startswith(b"$Failed"):
            return True
        # anything else ($Supports sent late, $Direction ...) is shown and skipped


def read_bytes(peer_wire, out: Output, offset: int, length: int, max_bytes: int) -> bool:
    if offset < 0 or length < 0:
        say("ERROR", "a negative offset or length: nothing read")
        return True
    if length > max_bytes:
        raise ProbeError("the peer announces %d bytes, more than --max-bytes %d"
                         % (length, max_bytes))
    got = peer_wire.exactly(length, out.at(offset))
    say("DATA", "%d of %d bytes at offset %d" % (got, length, offset))
    if got < length:
        say("CLOSED", "the peer closed the connection in the middle of the bytes")
        return False
    return True


def run_get(args, deadline: float) -> int:
    requests = [b"$ADCGET file " + " ".join(g).encode(args.id_encoding) + b"|" for g in args.get]
    requests += [b"$Get " + g.encode(args.encoding) + b"|" for g in args.legacy_get]
    if args.raw:
        requests += [r.encode(args.encoding) for r in args.raw]
    if not requests:
        raise ProbeError("nothing to ask for: give --get, --legacy-get or --raw")
    hub = HubSession(args, deadline)
    out = Output(args.out)
    peer_wire = None
    step = "the login"
    try:
        hub.login()
        step = "waiting for the peer's $ConnectToMe"
        address, tls = wait_connect_to_me(hub, hub.text(args.peer))
        step = "the greeting"
        peer_wire = Wire(address, deadline, tls)
        greeting, peer_key, lock = greet(peer_wire, hub.nick)
        say("GREETING", shown(greeting))
        step = "the requests"
        key = peer_key + b"|" if args.key == "echo" else b"$Key " + lock_to_key(lock or b"") + b"|"
        hello = PROBE_SUPPORTS + PROBE_DIRECTION + key
        for number, request in enumerate(requests):
            data = (hello if number == 0 else b"") + request
            peer_wire.send(data)
            say("SENT", shown(data))
            if not read_reply(peer_wire, request, out, args.max_bytes, args.linger):
                if number + 1 < len(requests):
                    say("ERROR", "%d request(s) not sent: the connection is gone"
                        % (len(requests) - number - 1))
                break
        else:
            # Anything the peer sends after the last reply, for a moment.
            msg = peer_wire.command(until=time.monotonic() + args.linger)
            if msg is not None:
                say("REPLY", shown(msg))
            elif peer_wire.closed:
                say("CLOSED", "the peer closed the connection after the last reply")
            else:
                say("OPEN", "the connection is still open %.1f s after the last reply"
                    % args.linger)
        return 0
    except ProbeError as e:
        raise ProbeError("%s: %s" % (step, e))
    finally:
        out.close()
        if peer_wire is not None:
            peer_wire.close()
        hub.wire.close()


def hub_address(text: str):
    host, _, port = text.rpartition(":")
    address = loopback_address(host, port)
    if address is None:
        raise argparse.ArgumentTypeError("a loopback address 127.x.x.x:port is needed: %r" % text)
    return address


def parse_args(argv):
    p = argparse.ArgumentParser(description="A passive downloader on the demo hub.")
    p.add_argument("--hub", type=hub_address, required=True, help="127.0.0.1:port of the hub")
    p.add_argument("--nick", default="probe%d" % os.getpid())
    p.add_argument("--encoding", default="cp1251", help="the hub's text encoding")
    p.add_argument("--timeout", type=float, default=30.0, help="seconds for the whole run")
    p.add_argument("--tls", action="store_true",
                   help="offer TLS transfers in the $MyINFO and follow a $ConnectToMe port marked S")
    sub = p.add_subparsers(dest="mode", required=True)
    s = sub.add_parser("search", help="search until the peer answers")
    s.add_argument("--udp", action="store_true",
                   help="an active search: results by UDP datagrams to a port of its own")
    s.add_argument("--peer", help="wait for a result from this nick (default: anybody)")
    s.add_argument("--need-tth", action="store_true", help="only a result with a TTH counts")
    s.add_argument("words", nargs="+")
    g = sub.add_parser("get", help="download from the peer")
    g.add_argument("--peer", required=True)
    g.add_argument("--get", nargs=3, action="append", default=[], metavar=("ID", "OFFSET", "LENGTH"),
                   help="one $ADCGET file ID OFFSET LENGTH request (ID as sent, e.g. TTH/... or /share/a\\sb)")
    g.add_argument("--id-encoding", default="utf-8",
                   help="encoding of a path in --get (ADC text is UTF-8; default %(default)s)")
    g.add_argument("--legacy-get", action="append", default=[], metavar="PATH$OFFSET",
                   help="one legacy $Get request (1-based offset after the '$')")
    g.add_argument("--raw", action="append", default=[], help="a request sent as it is")
    g.add_argument("--key", choices=("echo", "computed"), default="echo",
                   help="answer the peer's $Key with its own $Key (echo) or with the key for its $Lock")
    g.add_argument("--out", help="file the bytes are written to, each reply at its offset")
    g.add_argument("--max-bytes", type=int, default=256 * 1024 * 1024)
    g.add_argument("--linger", type=float, default=1.0,
                   help="seconds to watch the connection after the last reply")
    return p.parse_args(argv)


def main(argv) -> int:
    args = parse_args(argv)
    deadline = time.monotonic() + args.timeout
    try:
        return run_search(args, deadline) if args.mode == "search" else run_get(args, deadline)
    except (ProbeError, OSError) as e:
        say("ERROR", str(e))
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
