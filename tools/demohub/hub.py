"""The hub: real client sessions, routing between them and the demo users.

Model:
- Hub.sessions maps the exact nick of every logged-in real client to its
  Session; a nick is taken when any real client or demo user has it,
  compared case-insensitively.
- Hub.users is the fixed demo population (population.py); Hub.present holds
  the nicks of those now on the hub.  Only regular users leave and come
  back, and only while at least one real client is logged in; when the
  last client leaves everybody is present again.
- The hub listens on its port, where text on the wire is code page 1251,
  optionally on a second port where it is UTF-8 (hub name
  "<name> (UTF-8)"), and optionally on a TLS port (nmdcs://, code page
  1251, TLS from the first byte, the same hub name); all serve the same
  users, chat and files.  Each Session reads and writes the encoding of
  the port it came in on, and relayed text is encoded anew for every
  receiver (see wire.py).  Messages are read up to '|' (UTF-8 never has
  that byte inside a character); only the client's $Key is compared as raw
  bytes, since a key may hold any byte.  Nicks must be writable in code
  page 1251, so that clients on any port can see and address everybody.
- A client whose $MyINFO flag byte has bit 0x10 set can do TLS transfers
  (Session.tls); the demo users that offer TLS answer its $RevConnectToMe
  with a TLS port (see peer.py).  With clear_tls_flag the hub clears that
  bit in every $MyINFO it relays, the demo users' too, as PtokaX 0.5.2
  does, and the demo users then see the client without it as well.
- Active clients: the demo users answer "$Search <ip>:<port> ..." with one
  UDP datagram per result, and "$ConnectToMe <demo user> <ip>:<port>[S]" by
  connecting there and speaking first (peer.py), only where addresses.py
  allows (loopback or the client's own address).  A client whose login
  $Supports has UserIP2 gets "$UserIP <nick> <ip>$$|" after its own
  $MyINFO at login, as Verlihub sends it (user_ip option: another address;
  no_user_ip: none, as PtokaX).
- Chat and private messages are relayed as they came, escapes and all
  ("&#124;", "&#36;", "&amp;"); the bots quote them the same way.  An
  empty message (a keep-alive) is ignored anywhere.
- Every write of a message is one writer.write call, so messages never
  interleave.  A client that stops reading is dropped once its buffer
  passes MAX_BUFFER_BYTES.

Login follows PtokaX: $Lock first; the client's $Key is checked (a hub
of ours checks it whatever the order); $ValidateNick (taken, refused or
invalid: $ValidateDenide; in full mode: $HubIsFull; both close).  A
registered nick gets $GetPass; the client has usually sent the rest of its
login block already, so the messages that follow $ValidateNick are held
until $MyPass and handled, in order, once the password is right ($BadPass
and close otherwise; no password within password_seconds: close).  After
$MyINFO the hub answers with
"$Supports NoHello UserCommand|$Hello <nick>|$HubName <name>|<Hub-Security> ...|"
(or as soon as the client, its nick accepted, has been quiet for
HELLO_WAIT_SECONDS: classic clients wait for $Hello before $MyINFO),
then the $MyINFO of its bot, of everybody else and of the client, $OpList
and a welcome line.  With a login pause of 0 the first reply and the user
list go in one write, as PtokaX sends them on a fast link; a pause above 0
sends the user list that much later, in a write of its own.  With
force_move set, a client is sent "$ForceMove <address>|" and closed right
after its login completes (the "+forcemove <address>" chat command does the
same on demand).
"""

import asyncio
import collections
import contextlib
import logging
import random
import re
import socket
from dataclasses import dataclass

from . import peer
from .addresses import peer_target
from .lockkey import lock_to_key
from .realfiles import share_key
from .search import parse_search, search_users
from .tls import HANDSHAKE_SECONDS, TLS_FLAG
from .wire import CP1251, CP1252, UTF8, as_raw_bytes, decode, encode, writable_in

VERSION = "1.0"
BOT_NICK = "Hub-Security"
FLOOD_LINES_MAX = 50000  # the most lines one "+flood" sends (1.7 MB, within MAX_BUFFER_BYTES)
BOT_MYINFO = "$MyINFO $ALL Hub-Security demohub security bot$ $$$0$"
OP_NICKS = (BOT_NICK, "Mira")
LOGIN_SECONDS = 60
HELLO_WAIT_SECONDS = 0.25    # quiet this long after an accepted nick: send $Hello
MAX_MESSAGE_BYTES = 64 * 1024
MAX_BUFFER_BYTES = 4 * 1024 * 1024
MAX_SESSIONS = 256
MAX_OFFERS_PER_SESSION = 4   # open $ConnectToMe listeners a client may hold
MAX_HELD_MESSAGES = 64       # messages kept while a password is awaited
SR_GROUP = 8                 # results written back to back before a pause
BAD_NICK_CHARS = set(" $|") | {chr(c) for c in range(32)}
PM_RE = re.compile(r"\$To: (\S+) From: (\S+) \$(.*)", re.S)
UTF8_NAME_SUFFIX = " (UTF-8)"
CP1252_NAME_SUFFIX = " (CP1252)"

MIRA_LINES = (
    "Привет всем!", "hi there", "who has some good music?", "кто-нибудь знает хороший фильм?",
    "slots are free, take what you need", "don't forget to share something :)",
    "ну и погода сегодня", "anyone from Minsk here?", "lol", "брб", "thanks!",
)
CHATTER_LINES = (
    "hi all", "всем привет", "anyone has the new Земфира album?", "give me a slot please :)",
    "uploading at full speed now", "кто качает с меня, подождите", "good night everybody",
    "where is the search button on this thing?", "brb", "ага", "ищу Кино, Группа крови",
)

log = logging.getLogger("demohub")


@dataclass
class Listener:
    """One listening port: the encoding of its connections, the hub name
    they see, and the TLS context when it speaks TLS."""
    encoding: str
    name: str
    ssl: object = None
    port: int = 0          # the port asked for (0: any free one), then the one taken
    server: object = None

    @property
    def address(self) -> str:
        return "127.0.0.1:%d" % self.port


def chat_escape(text: str) -> str:
    """Text for a chat line: '&' that would start an escape, '$' and '|'
    written as clients write them."""
    text = re.sub(r"&(?=#36;|#124;|amp;)", "&amp;", text)
    return text.replace("$", "&#36;").replace("|", "&#124;")


MYINFO_HEAD = "$MyINFO $ALL "


def myinfo_fields(raw: str):
    """(nick, fields) of "$MyINFO $ALL <nick> <description><tag>$ $<connection><flag
    byte>$<e-mail>$<share>$": fields split at '$', the connection with its
    flag byte third; None when there are too few."""
    nick, _, rest = raw[len(MYINFO_HEAD):].partition(" ")
    fields = rest.split("$")
    return (nick, fields) if len(fields) >= 6 else None


def myinfo_flags(raw: str, encoding: str = CP1251) -> int:
    """The flag byte after the connection type as a number (0 without one)."""
    parsed = myinfo_fields(raw)
    if parsed is None or not parsed[1][2]:
        return 0
    byte = encode(parsed[1][2][-1], encoding)
    return byte[0] if len(byte) == 1 else 0


def relayed_myinfo(raw: str, encoding: str = CP1251, clear_bits: int = 0) -> str:
    """A client's $MyINFO as PtokaX relays it: tag stripped, a blank status
    byte after the connection turned into '@' ("$Modem $" -> "$Modem@$").
    The status byte holds flags (0x10: TLS), not text: it goes to clients
    of either encoding as the byte it came as, less clear_bits."""
    parsed = myinfo_fields(raw)
    if parsed is None:
        return raw
    nick, fields = parsed
    fields[0] = re.sub(r"<[^<>]*>$", "", fields[0])
    if fields[2].endswith(" "):
        fields[2] = fields[2][:-1] + "@"
    elif fields[2]:
        fields[2] = fields[2][:-1] + flag_char(fields[2][-1], encoding, clear_bits)
    return MYINFO_HEAD + nick + " " + "$".join(fields)


def flag_char(char: str, encoding: str, clear_bits: int) -> str:
    """The status byte char, as read in encoding, as a raw byte less clear_bits."""
    byte = encode(char, encoding)
    if len(byte) != 1:
        return as_raw_bytes(char, encoding)
    value = byte[0] & ~clear_bits
    return chr(value) if value < 0x80 else chr(0xDC00 + value)


def myinfo_with_bits_cleared(raw: str, clear_bits: int) -> str:
    """A demo user's $MyINFO (flag byte as a char below 0x80) less clear_bits."""
    parsed = myinfo_fields(raw)
    if parsed is None or not parsed[1][2] or ord(parsed[1][2][-1]) >= 0x80:
        return raw
    nick, fields = parsed
    fields[2] = fields[2][:-1] + chr(ord(fields[2][-1]) & ~clear_bits)
    return MYINFO_HEAD + nick + " " + "$".join(fields)


def myinfo_mode(raw: str) -> str:
    m = re.search(r",M:([A-Z5])", raw)
    return m.group(1) if m else "A"


class Session:
    def __init__(self, hub, reader, writer, listener):
        self.hub = hub
        self.reader = reader
        self.writer = writer
        self.listener = listener
        self.encoding = listener.encoding
        self.pending = collections.deque()   # held while a password was asked
        self.nick = None
        self.myinfo = ""
        self.mode = "A"
        self.tls = False    # its $MyINFO announces TLS transfers
        self.logged_in = False
        self.search_task = None
        self.supports = ()   # the words of its login $Supports
        self.offers = 0
        self.hello_sent = False
        self.closed = False
        peer = writer.get_extra_info("peername")
        self.host = peer[0] if peer else ""   # the address its connection comes from

    def send(self, data) -> None:
        if self.closed or self.writer.is_closing():
            return
        if isinstance(data, str):
            data = encode(data, self.encoding)
        if log.isEnabledFor(logging.DEBUG):
            log.debug("-> %s %r", self.nick, data[:300])
        self.writer.write(data)
        if self.writer.transport.get_write_buffer_size() > MAX_BUFFER_BYTES:
            log.warning("%s does not read, dropping it", self.nick)
            self.close()

    def chat(self, text: str) -> None:
        self.send("<%s> %s|" % (BOT_NICK, chat_escape(text)))

    def decode(self, raw: bytes) -> str:
        return decode(raw, self.encoding)

    def close(self) -> None:
        if not self.closed:
            self.closed = True
            self.writer.close()

    async def read(self, timeout=None) -> bytes:
        if self.pending:
            return self.pending.popleft()
        data = await asyncio.wait_for(self.reader.readuntil(b"|"), timeout)
        if log.isEnabledFor(logging.DEBUG):
            log.debug("<- %s %r", self.nick, data[:300])
        return data[:-1]


class Hub:
    def __init__(self, options, users, tls=None):
        self.options = options
        self.tls = tls       # tls.Tls (certificate and context), or None
        self.users = users
        self.by_nick = {u.nick: u for u in users}
        self.present = {u.nick for u in users}
        self.sessions = {}
        self.connections = set()
        self.writers = set()
        self.tasks = set()
        self.rng = random.Random(options.seed)
        self.refused = {n.lower() for n in options.refused}
        self.registered = {n.lower(): pw for n, pw in options.registered}
        # PtokaX 0.5.2 clears the TLS bit of every $MyINFO it relays; the
        # demo users then see the client without it too.
        self.clear_bits = TLS_FLAG if options.clear_tls_flag else 0
        if self.clear_bits:
            for u in users:
                u.myinfo = myinfo_with_bits_cleared(u.myinfo, self.clear_bits)
        self.main = Listener(CP1251, options.name, port=options.port)
        self.utf8 = (Listener(UTF8, options.name + UTF8_NAME_SUFFIX, port=options.utf8_port)
                     if options.utf8_port is not None else None)
        self.cp1252 = (Listener(CP1252, options.name + CP1252_NAME_SUFFIX, port=options.cp1252_port)
                       if options.cp1252_port is not None else None)
        self.secure = None
        if options.tls_port is not None:
            if tls is None:
                raise ValueError("a TLS port needs a certificate")
            self.secure = Listener(CP1251, options.name, tls.context, options.tls_port)

    # ---- plumbing -----------------------------------------------------------

    def track(self, writer) -> None:
        self.writers.add(writer)

    def untrack(self, writer) -> None:
        self.writers.discard(writer)

    def spawn(self, coro):
        task = asyncio.get_running_loop().create_task(coro)
        self.tasks.add(task)
        task.add_done_callback(self.tasks.discard)
        return task

    @property
    def port(self):
        return self.main.port

    @property
    def utf8_port(self):
        return self.utf8.port if self.utf8 is not None else None

    @property
    def cp1252_port(self):
        return self.cp1252.port if self.cp1252 is not None else None

    @property
    def tls_port(self):
        return self.secure.port if self.secure is not None else None

    def listeners(self):
        return [x for x in (self.main, self.utf8, self.cp1252, self.secure) if x is not None]

    async def listen(self, listener) -> None:
        async def on_connect(reader, writer):
            await self.on_connect(reader, writer, listener)
        tls = {} if listener.ssl is None else {"ssl": listener.ssl,
                                               "ssl_handshake_timeout": HANDSHAKE_SECONDS}
        listener.server = await asyncio.start_server(on_connect, "127.0.0.1", listener.port,
                                                     limit=MAX_MESSAGE_BYTES, reuse_address=True,
                                                     **tls)
        listener.port = listener.server.sockets[0].getsockname()[1]

    async def start(self):
        for listener in self.listeners():
            try:
                await self.listen(listener)
            except OSError:
                for done in self.listeners():
                    if done.server is not None:
                        done.server.close()
                raise
        if self.options.churn_seconds > 0:
            self.spawn(self.churn())
        if self.options.chatter_seconds > 0 and not self.options.quiet:
            self.spawn(self.chatter())
        return self.port

    async def stop(self):
        for listener in self.listeners():
            if listener.server is not None:
                listener.server.close()
        for w in list(self.writers):
            w.close()
        for t in list(self.tasks):
            t.cancel()
        await asyncio.sleep(0)

    def others(self, session):
        return [s for s in self.sessions.values() if s is not session]

    def broadcast(self, text: str, skip=None) -> None:
        encoded = {}   # encoding -> bytes: each text is encoded once per encoding
        for s in list(self.sessions.values()):
            if s is not skip:
                data = encoded.get(s.encoding)
                if data is None:
                    data = encoded[s.encoding] = encode(text, s.encoding)
                s.send(data)

    def nick_taken(self, nick: str) -> bool:
        low = nick.lower()
        return (low == BOT_NICK.lower() or any(u.nick.lower() == low for u in self.users)
                or any(n.lower() == low for n in self.sessions))

    def present_users(self):
        return [u for u in self.users if u.nick in self.present]

    # ---- connection lifecycle ----------------------------------------------

    async def on_connect(self, reader, writer, listener):
        session = Session(self, reader, writer, listener)
        self.track(writer)
        sock = writer.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            if len(self.connections) >= MAX_SESSIONS:
                session.chat("The hub is full.")
                return
            self.connections.add(session)
            if await self.login(session):
                await self.serve(session)
        except (asyncio.IncompleteReadError, ConnectionError, asyncio.TimeoutError, OSError):
            pass
        except asyncio.LimitOverrunError:
            log.warning("%s sent an oversized message", session.nick)
        finally:
            self.connections.discard(session)
            self.leave(session)
            session.close()
            self.untrack(writer)

    def leave(self, session) -> None:
        if session.search_task is not None:
            session.search_task.cancel()
        if session.logged_in and self.sessions.get(session.nick) is session:
            del self.sessions[session.nick]
            log.info("%s left", session.nick)
            self.broadcast("$Quit %s|" % session.nick)
            if not self.sessions:
                self.present = {u.nick for u in self.users}

    async def login(self, session) -> bool:
        lock = "EXTENDEDPROTOCOL_demohub_" + "".join(
            random.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
            for _ in range(16))
        expected_key = lock_to_key(lock.encode("ascii"))
        session.send("$Lock %s Pk=demohub|" % lock)
        loop = asyncio.get_running_loop()
        deadline = loop.time() + LOGIN_SECONDS
        key_ok = False
        while True:
            left = max(0.1, deadline - loop.time())
            awaiting_hello = session.nick is not None and not session.hello_sent
            try:
                raw = await session.read(min(left, HELLO_WAIT_SECONDS) if awaiting_hello else left)
            except asyncio.TimeoutError:
                if not awaiting_hello:
                    raise
                # Quiet after an accepted nick: a classic client (microdc2,
                # for one) waits for $Hello before it sends $MyINFO.
                session.hello_sent = True
                session.send(self.first_reply(session))
                continue
            if raw.startswith(b"$Key "):
                if raw[5:] != expected_key:
                    session.chat("Your client sent a wrong key for the lock. Disconnecting.")
                    return False
                key_ok = True
                continue
            msg = session.decode(raw)
            if msg.startswith("$ValidateNick "):
                if not key_ok:
                    session.chat("No $Key came before $ValidateNick. Disconnecting.")
                    return False
                if not self.validate_nick(session, msg[len("$ValidateNick "):]):
                    return False
                if self.options.full:
                    session.send("$HubIsFull|")
                    return False
                password = self.registered.get(session.nick.lower())
                if password is not None:
                    if not await self.check_password(session, password):
                        return False
                    deadline = loop.time() + LOGIN_SECONDS
            elif msg.startswith("$MyINFO $ALL ") and session.nick is not None:
                if not self.accept_myinfo(session, msg):
                    session.chat("Your $MyINFO does not carry your nick. Disconnecting.")
                    return False
                self.complete_login(session)
                return True
            elif msg.startswith("$Supports "):
                session.supports = tuple(msg[len("$Supports "):].split())
            # $Version, $GetNickList, a keep-alive: nothing to check

    async def check_password(self, session, password: str) -> bool:
        """$GetPass, then wait for $MyPass; what comes in between is held in
        session.pending and handled once the password is right."""
        session.send("$GetPass|")
        loop = asyncio.get_running_loop()
        deadline = loop.time() + self.options.password_seconds
        held = []
        while True:
            left = deadline - loop.time()
            try:
                if left <= 0:
                    raise asyncio.TimeoutError
                raw = await session.read(left)
            except asyncio.TimeoutError:
                log.info("%s sent no password", session.nick)
                session.chat("No password came in time. Disconnecting.")
                return False
            if raw == b"$MyPass" or raw.startswith(b"$MyPass "):
                break
            if raw:   # a keep-alive is not worth holding
                held.append(raw)
            if len(held) > MAX_HELD_MESSAGES:
                session.chat("Too many messages before the password. Disconnecting.")
                return False
        if session.decode(raw[len(b"$MyPass "):]) != password:
            log.info("%s sent a wrong password", session.nick)
            session.send("$BadPass|")
            return False
        session.pending.extend(held)
        return True

    def validate_nick(self, session, nick: str) -> bool:
        if (not nick or len(nick) > 64 or any(c in BAD_NICK_CHARS for c in nick)
                or not writable_in(nick, CP1251) or nick.lower() in self.refused):
            session.send("$ValidateDenide %s|" % nick)
            session.chat("The nick %s is not allowed here." % nick)
            return False
        if self.nick_taken(nick):
            session.send("$ValidateDenide %s|" % nick)
            session.chat("The nick %s is already taken, choose another one." % nick)
            return False
        session.nick = nick
        return True

    def accept_myinfo(self, session, msg: str) -> bool:
        if not msg.startswith("$MyINFO $ALL %s " % session.nick):
            return False
        session.myinfo = relayed_myinfo(msg, session.encoding, self.clear_bits)
        session.mode = myinfo_mode(msg)
        session.tls = bool(myinfo_flags(msg, session.encoding) & TLS_FLAG & ~self.clear_bits)
        return True

    def complete_login(self, session) -> None:
        nick = session.nick
        if self.nick_taken(nick):   # somebody finished the same nick first
            session.send("$ValidateDenide %s|" % nick)
            raise ConnectionError("nick raced")
        session.logged_in = True
        self.sessions[nick] = session
        log.info("%s logged in", nick)
        first = "" if session.hello_sent else self.first_reply(session)
        session.hello_sent = True
        self.broadcast(session.myinfo + "|", skip=session)
        if self.options.login_pause_ms <= 0:
            session.send(first + self.user_list(session, True) + self.welcome(session))
            self.moved_after_login(session)
            return
        if first:
            session.send(first)

        async def rest():
            await asyncio.sleep(self.options.login_pause_ms / 1000.0)
            if not session.closed:
                session.send(self.user_list(session, True) + self.welcome(session))
                self.moved_after_login(session)
        self.spawn(rest())

    def moved_after_login(self, session) -> None:
        if self.options.force_move:
            self.force_move(session, self.options.force_move)

    def force_move(self, session, address: str) -> None:
        """$ForceMove, then the hub closes the connection, as real hubs do."""
        log.info("%s is moved to %s", session.nick, address)
        session.send("$ForceMove %s|" % address)
        session.close()

    def first_reply(self, session) -> str:
        return ("$Supports NoHello UserCommand|$Hello %s|$HubName %s|"
                "<%s> This hub is running demohub %s, a demo hub for Kivo.|"
                % (session.nick, session.listener.name, BOT_NICK, VERSION))

    def user_list(self, session, at_login: bool = False) -> str:
        parts = [BOT_MYINFO + "|"]
        parts += [u.myinfo + "|" for u in self.present_users()]
        parts += [s.myinfo + "|" for s in self.others(session)]
        parts.append(session.myinfo + "|")
        if at_login:
            parts.append(self.user_ip(session))
        parts.append("$OpList %s$$|" % "$$".join(OP_NICKS))
        return "".join(parts)

    def user_ip(self, session) -> str:
        """"$UserIP <nick> <ip>$$|" after the client's own $MyINFO, as Verlihub
        sends it, to a client whose $Supports has UserIP2; --user-ip puts
        another address in (a hub that sees the client behind a router),
        --no-user-ip sends none (PtokaX ignores UserIP2)."""
        if self.options.no_user_ip or "UserIP2" not in session.supports:
            return ""
        return "$UserIP %s %s$$|" % (session.nick, self.options.user_ip or session.host)

    def welcome(self, session) -> str:
        return ("<%s> Welcome to %s, %s! Search for mp3 or music, say hello to Mira in the "
                "chat, or send PenPal a private message.|"
                % (BOT_NICK, session.listener.name, session.nick))

    # ---- after login --------------------------------------------------------

    async def serve(self, session) -> None:
        handlers = {
            "$To:": self.on_private, "$Search": self.on_search, "$SR": self.on_result,
            "$RevConnectToMe": self.on_rev_connect, "$ConnectToMe": self.on_connect_to_me,
            "$MyINFO": self.on_myinfo, "$GetNickList": self.on_nick_list,
            "$GetINFO": self.on_get_info,
        }
        while not session.closed:
            msg = session.decode(await session.read())
            if msg.startswith("<"):
                self.on_chat(session, msg)
                continue
            if msg == "$Quit" or msg.startswith("$Quit "):
                return
            handler = handlers.get(msg.split(" ", 1)[0])
            if handler is None:
                continue   # a keep-alive (empty message) too
            try:
                handler(session, msg)
            except Exception:   # a message that trips a handler costs only itself
                log.exception("%s: cannot handle %r", session.nick, msg[:200])
            # anything else ($Supports, $Version, $Key, $BotINFO ...) is ignored

    def on_chat(self, session, msg: str) -> None:
        if not msg.startswith("<%s>" % session.nick):
            return   # a line that claims another nick is dropped, as real hubs do
        text = " ".join(msg[len(session.nick) + 2:].split())
        if text.startswith("+"):
            self.on_command(session, text)
            return
        self.broadcast(msg + "|")
        self.mira_hears(session, text)

    def on_command(self, session, text: str) -> None:
        command, _, arg = text.partition(" ")
        if command in ("+help", "+about"):
            session.chat("demohub %s plays %d demo users. Try: search for mp3, music or "
                         "Война; download from Seeder; write to Mira or PenPal. Commands: "
                         "+help; +flood <N> (N numbered chat lines to you at once, up to "
                         "%d); +forcemove <address> (the hub moves you there and closes "
                         "your connection)." % (VERSION, len(self.users), FLOOD_LINES_MAX))
        elif command == "+flood":
            self.flood(session, arg)
        elif command == "+forcemove":
            if arg and " " not in arg:
                self.force_move(session, arg)
            else:
                session.chat("Usage: +forcemove <address>, for example +forcemove 127.0.0.1:2226")
        else:
            session.chat("Unknown command. Try +help.")

    def flood(self, session, arg: str) -> None:
        """N chat lines from Chatterbox to this client alone, in one write:
        "<Chatterbox> flood 00001 of N", for tests of a long chat history."""
        if not arg.isdigit() or not 1 <= int(arg) <= FLOOD_LINES_MAX:
            session.chat("Usage: +flood <N>, N from 1 to %d" % FLOOD_LINES_MAX)
            return
        n = int(arg)
        session.send("".join("<Chatterbox> flood %05d of %d|" % (i, n) for i in range(1, n + 1)))

    def mira_hears(self, session, text: str) -> None:
        if "Mira" not in self.present:
            return
        addressed = "mira" in text.lower()
        if addressed:
            line = "<Mira> %s, you said: %s|" % (session.nick, text)
            delay = 0 if self.options.quiet else self.rng.uniform(0.3, 1.5)
        elif not self.options.quiet and self.rng.random() < 0.35:
            line = "<Mira> %s|" % self.rng.choice(MIRA_LINES)
            delay = self.rng.uniform(1.0, 4.0)
        else:
            return
        if delay <= 0:
            self.broadcast(line)
            return

        async def later():
            await asyncio.sleep(delay)
            self.broadcast(line)
        self.spawn(later())

    def on_private(self, session, msg: str) -> None:
        m = PM_RE.match(msg)
        if m is None or m.group(2) != session.nick:
            return
        target = m.group(1)
        if target in self.sessions:
            self.sessions[target].send(msg + "|")
            return
        said = m.group(3)
        prefix = "<%s>" % session.nick
        if said.startswith(prefix):
            said = said[len(prefix):]
        words = " ".join(said.split())
        if target == "PenPal" and target in self.present:
            reply = "You wrote: %s" % words if words else "You wrote nothing."
        elif target == "Mira" and target in self.present:
            reply = "%s, you said: %s" % (session.nick, words)
        else:
            return   # other demo users are away from the keyboard
        session.send("$To: %s From: %s $<%s> %s|" % (session.nick, target, target, reply))

    def on_search(self, session, msg: str) -> None:
        q = parse_search(msg)
        if q is None:
            return
        passive = q.passive_nick
        if passive is not None and passive != session.nick:
            session.chat("A passive search must carry your own nick. Disconnecting.")
            session.close()
            return
        for other in self.others(session):
            if passive is None or other.mode != "P":
                other.send(msg + "|")
        target = None
        if passive is None:
            target = peer_target(q.source, session.host)
            if target is None:   # not the client's own address: the hub is no UDP reflector
                log.info("%s: no results to %r", session.nick, q.source[:100])
                return
        hits = search_users(q, self.present_users(), self.options.max_results)
        if session.search_task is not None:
            session.search_task.cancel()
        session.search_task = self.spawn(self.send_results(session, hits, target))

    def result_text(self, session, owner, path: str, size: int, is_dir: bool) -> str:
        """A $SR for session; a real file of a user that speaks $ADCGET
        carries its TTH where the hub name would be, as modern clients send
        it (OldDC's never does).  The hub name and address are those of the
        searcher's port."""
        free, total = owner.slots
        tth = None if is_dir or not owner.adc else owner.tth.get(share_key(path))
        where = "TTH:" + tth if tth else session.listener.name
        tail = "%d/%d\x05%s (%s)" % (free, total, where, session.listener.address)
        if is_dir:
            return "$SR %s %s %s|" % (owner.nick, path, tail)
        return "$SR %s %s\x05%d %s|" % (owner.nick, path, size, tail)

    async def send_results(self, session, hits, udp_target=None) -> None:
        """The results over the hub connection (passive), or (active) one
        UDP datagram each to udp_target, as clients send them: the $SR and
        its '|', no searcher nick, in the encoding of the searcher's port.
        Both are paced the same way."""
        delay = self.options.sr_delay_ms / 1000.0
        if udp_target is None:
            opened = contextlib.nullcontext()   # enters as None
        else:
            opened = socket.socket(socket.AF_INET6 if ":" in udp_target[0] else socket.AF_INET,
                                   socket.SOCK_DGRAM)
        with opened as udp:
            for i, hit in enumerate(hits):
                if session.closed or session.writer.is_closing():
                    return
                text = self.result_text(session, *hit)
                if udp is None:
                    session.send(text)
                else:
                    try:
                        udp.sendto(encode(text, session.encoding), udp_target)
                    except OSError as e:   # nobody listens there, or no route: give up
                        log.info("%s: UDP results stopped: %r", session.nick, e)
                        return
                if delay > 0 and i % SR_GROUP == SR_GROUP - 1:
                    await asyncio.sleep(delay)

    def on_result(self, session, msg: str) -> None:
        body, sep, target = msg.rpartition("\x05")
        if sep and target in self.sessions and msg.startswith("$SR %s " % session.nick):
            self.sessions[target].send(body + "|")

    def on_rev_connect(self, session, msg: str) -> None:
        parts = msg.split(" ")
        if len(parts) != 3 or parts[1] != session.nick:
            return
        target = parts[2]
        if target in self.sessions:
            self.sessions[target].send(msg + "|")
            return
        owner = self.by_nick.get(target)
        if owner is None or not owner.serves or target not in self.present:
            return
        if session.offers >= MAX_OFFERS_PER_SESSION:
            log.info("%s has too many open requests", session.nick)
            return
        log.info("%s asks %s for a connection", session.nick, target)
        session.offers += 1

        async def offer():
            try:
                await peer.offer_connection(self, owner, session.nick, session)
            finally:
                session.offers -= 1
        self.spawn(offer())

    def on_connect_to_me(self, session, msg: str) -> None:
        parts = msg.split(" ")
        if len(parts) != 3:
            return
        target = parts[1]
        if target in self.sessions:
            self.sessions[target].send(msg + "|")
            return
        owner = self.by_nick.get(target)
        if owner is None or not owner.connects or target not in self.present:
            return
        secure = parts[2].endswith("S")
        where = peer_target(parts[2][:-1] if secure else parts[2], session.host)
        if where is None:   # the hub connects only back to the client
            log.info("%s: %s does not connect to %r", session.nick, target, parts[2][:100])
            return
        if session.offers >= MAX_OFFERS_PER_SESSION:
            log.info("%s has too many open requests", session.nick)
            return
        log.info("%s asks %s to connect to %s:%d%s", session.nick, target, *where,
                 " (TLS)" if secure else "")
        session.offers += 1

        async def connect():
            try:   # only the connecting counts as an open request
                connection = await peer.connect_to(owner, where[0], where[1], secure)
            finally:
                session.offers -= 1
            if connection is not None:
                await peer.run_connection(self, owner, *connection, session.encoding, secure,
                                          speak_first=True)
        self.spawn(connect())

    def on_myinfo(self, session, msg: str) -> None:
        if self.accept_myinfo(session, msg):
            self.broadcast(session.myinfo + "|")

    def on_nick_list(self, session, msg: str) -> None:
        session.send(self.user_list(session))

    def on_get_info(self, session, msg: str) -> None:
        parts = msg.split(" ")
        if len(parts) < 2:
            return
        nick = parts[1]
        if nick == BOT_NICK:
            session.send(BOT_MYINFO + "|")
        elif nick in self.sessions:
            session.send(self.sessions[nick].myinfo + "|")
        elif nick in self.present:
            session.send(self.by_nick[nick].myinfo + "|")

    # ---- life on the hub ----------------------------------------------------

    async def churn(self) -> None:
        base = self.options.churn_seconds
        churners = [u for u in self.users if u.churns]
        while True:
            await asyncio.sleep(self.rng.uniform(base, 3 * base))
            if not self.sessions:
                continue
            away = [u for u in churners if u.nick not in self.present]
            if away and (len(away) >= 3 or self.rng.random() < 0.5):
                u = self.rng.choice(away)
                self.present.add(u.nick)
                self.broadcast(u.myinfo + "|")
                log.info("%s is back", u.nick)
            else:
                here = [u for u in churners if u.nick in self.present]
                if here:
                    u = self.rng.choice(here)
                    self.present.discard(u.nick)
                    self.broadcast("$Quit %s|" % u.nick)
                    log.info("%s went away", u.nick)

    async def chatter(self) -> None:
        base = self.options.chatter_seconds
        talkers = [u for u in self.users if u.role == "regular"]
        while True:
            await asyncio.sleep(self.rng.uniform(base, 2 * base))
            here = [u for u in talkers if u.nick in self.present]
            if self.sessions and here:
                u = self.rng.choice(here)
                self.broadcast("<%s> %s|" % (u.nick, self.rng.choice(CHATTER_LINES)))
