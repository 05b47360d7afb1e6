"""Command line, start-up and shutdown of the demo hub.

Start-up order: generate or reuse the real files, their TTHs (rhash, once
for all files not in the cache), the TLS certificate (openssl, once; see
tls.py) and the keyprint file, build the population, listen, write the port
files, take over SIGTERM and SIGINT, and last print the line
"demohub listening on 127.0.0.1:<port>", with --utf8-port a line
"demohub utf-8 listening on 127.0.0.1:<port>", with --cp1252-port a line
"demohub cp1252 listening on 127.0.0.1:<port>" and with --tls-port a line
"demohub tls listening on 127.0.0.1:<port>", in this order: whoever waits
for them (the tests do) finds the files written and can stop the hub at once.
Without a certificate (no openssl) the hub runs without TLS, unless
--tls-port or --keyprint-file asks for it: then it does not start.
SIGTERM and SIGINT stop the hub: the listeners and every connection are
closed and the process exits 0.
"""

import argparse
import asyncio
import ipaddress
import logging
import os
import signal
import sys
import tempfile
import time
from pathlib import Path

from .hub import Hub
from .population import build_population
from .realfiles import prepare
from .tls import TlsError, load as load_tls
from .tth import file_hashes

DEFAULT_PORT, SECOND_PORT = 2225, 2226
DEFAULT_NAME, SECOND_NAME = "Kivo Demo Hub", "Kivo Demo Hub 2"
DEFAULT_REGISTERED = ("Member", "letmein")
DEFAULT_REFUSED = "Banned"
NICK_FORBIDDEN = set(" $|") | {chr(c) for c in range(32)}


def registered_nick(text: str):
    """NICK:PASSWORD -> (nick, password)."""
    nick, sep, password = text.partition(":")
    if (not sep or not nick or not password or any(c in NICK_FORBIDDEN for c in nick)
            or "|" in password):
        raise argparse.ArgumentTypeError("want NICK:PASSWORD, no blank, '$' or '|' in the nick, "
                                         "no '|' in the password")
    return nick, password


def plain_nick(text: str) -> str:
    if not text or any(c in NICK_FORBIDDEN for c in text):
        raise argparse.ArgumentTypeError("a nick, without blanks, '$' or '|'")
    return text


def address(text: str) -> str:
    if not text or any(c in NICK_FORBIDDEN for c in text):
        raise argparse.ArgumentTypeError("an address such as 127.0.0.1:2226, without blanks, "
                                         "'$' or '|'")
    return text


def ip_address(text: str) -> str:
    try:
        return str(ipaddress.ip_address(text))
    except ValueError:
        raise argparse.ArgumentTypeError("an IP address such as 192.168.1.5") from None


def parse_args(argv):
    p = argparse.ArgumentParser(prog="demohub", description="A small NMDC demo hub for Kivo.")
    p.add_argument("--port", type=int, default=None,
                   help="port on 127.0.0.1 (default 2225, or 2226 with --second; 0: any free port)")
    p.add_argument("--port-file", type=Path, help="write the port number to this file")
    p.add_argument("--name", default=None, help="hub name (default %r)" % DEFAULT_NAME)
    p.add_argument("--second", action="store_true",
                   help="defaults for a second hub: port 2226, name %r" % SECOND_NAME)
    p.add_argument("--data-dir", type=Path,
                   default=Path(tempfile.gettempdir()) / "kivo-demohub-data",
                   help="where the downloadable files are generated (default %(default)s)")
    p.add_argument("--big-mib", type=int, default=300,
                   help="size of the biggest file in MiB; 0: small files only (default 300)")
    p.add_argument("--churn-seconds", type=float, default=20,
                   help="a demo user leaves or comes back every N to 3N seconds while "
                        "clients are connected; 0: never (default 20)")
    p.add_argument("--chatter-seconds", type=float, default=45,
                   help="a demo user says something every N to 2N seconds; 0: never (default 45)")
    p.add_argument("--quiet", action=argparse.BooleanOptionalAction, default=False,
                   help="no chatter; Mira answers only lines that name her, at once "
                        "(--no-quiet undoes an earlier --quiet)")
    p.add_argument("--slow-kibps", type=int, default=200, help="Slowpoke's rate (default 200)")
    p.add_argument("--login-pause-ms", type=int, default=0,
                   help="pause between the first login reply and the user list; "
                        "0: both in one write, as real hubs send them (default 0)")
    p.add_argument("--registered", type=registered_nick, action="append", metavar="NICK:PASSWORD",
                   help="a registered nick and its password; repeatable "
                        "(default: %s:%s)" % DEFAULT_REGISTERED)
    p.add_argument("--password-seconds", type=float, default=60,
                   help="how long a registered nick may take to send its password (default 60)")
    p.add_argument("--refused", type=plain_nick, action="append", metavar="NICK",
                   help="a nick the hub refuses; repeatable (default: %s)" % DEFAULT_REFUSED)
    p.add_argument("--full", action="store_true",
                   help="answer every $ValidateNick with $HubIsFull and close")
    p.add_argument("--force-move", type=address, metavar="ADDRESS",
                   help="send every client $ForceMove ADDRESS right after its login, then close")
    p.add_argument("--utf8-port", type=int, default=None, metavar="N",
                   help="also listen on this port of 127.0.0.1 with UTF-8 text; 0: any free port")
    p.add_argument("--utf8-port-file", type=Path, help="write the UTF-8 port number to this file")
    p.add_argument("--cp1252-port", type=int, default=None, metavar="N",
                   help="also listen on this port of 127.0.0.1 with code page 1252 text; 0: any free port")
    p.add_argument("--cp1252-port-file", type=Path, help="write the code page 1252 port number to this file")
    p.add_argument("--tls-port", type=int, default=None, metavar="N",
                   help="also listen on this port of 127.0.0.1 with TLS (nmdcs://); "
                        "0: any free port")
    p.add_argument("--tls-port-file", type=Path, help="write the TLS port number to this file")
    p.add_argument("--keyprint-file", type=Path,
                   help="write the keyprint of the hub's certificate (SHA256/<base32>) "
                        "to this file")
    p.add_argument("--user-ip", type=ip_address, metavar="ADDR",
                   help="the address told in $UserIP instead of the one the client connects "
                        "from (a hub that sees the client behind a router)")
    p.add_argument("--no-user-ip", action="store_true",
                   help="never send $UserIP, even to a client whose $Supports has UserIP2 "
                        "(as PtokaX); by default such a client gets "
                        "\"$UserIP <nick> <ip>$$|\" after its own $MyINFO at login")
    p.add_argument("--clear-tls-flag", action="store_true",
                   help="clear bit 0x10 (TLS) of the flag byte in every $MyINFO the hub "
                        "relays, the demo users' too, as PtokaX 0.5.2 does; the demo users "
                        "then offer no TLS port to $RevConnectToMe either")
    p.add_argument("--sr-delay-ms", type=float, default=5,
                   help="pause after every 8 search results (default 5)")
    p.add_argument("--max-results", type=int, default=1000,
                   help="most results for one search (default 1000)")
    p.add_argument("--seed", type=int, default=None,
                   help="seed for churn, chatter and Mira's moods (default: time)")
    p.add_argument("-v", "--verbose", action="count", default=0,
                   help="log to stderr; twice: every message")
    opts = p.parse_args(argv)
    if opts.port is None:
        opts.port = SECOND_PORT if opts.second else DEFAULT_PORT
    if opts.name is None:
        opts.name = SECOND_NAME if opts.second else DEFAULT_NAME
    if opts.seed is None:
        opts.seed = time.time_ns()
    if opts.registered is None:
        opts.registered = [DEFAULT_REGISTERED]
    if opts.refused is None:
        opts.refused = [DEFAULT_REFUSED]
    if not 0 <= opts.port <= 65535 or opts.big_mib < 0 or opts.slow_kibps < 1:
        p.error("bad port, --big-mib or --slow-kibps")
    if opts.utf8_port is not None and not 0 <= opts.utf8_port <= 65535:
        p.error("bad --utf8-port")
    if opts.utf8_port_file and opts.utf8_port is None:
        p.error("--utf8-port-file needs --utf8-port")
    if opts.cp1252_port is not None and not 0 <= opts.cp1252_port <= 65535:
        p.error("bad --cp1252-port")
    if opts.cp1252_port_file and opts.cp1252_port is None:
        p.error("--cp1252-port-file needs --cp1252-port")
    if opts.tls_port is not None and not 0 <= opts.tls_port <= 65535:
        p.error("bad --tls-port")
    if opts.tls_port_file and opts.tls_port is None:
        p.error("--tls-port-file needs --tls-port")
    if opts.user_ip and opts.no_user_ip:
        p.error("--user-ip and --no-user-ip exclude each other")
    if opts.password_seconds <= 0:
        p.error("--password-seconds must be above 0")
    if any(c in opts.name for c in "$|"):
        p.error("the hub name may not hold '$' or '|'")
    return opts


async def run(opts) -> int:
    log = logging.getLogger("demohub")
    try:
        real = prepare(opts.data_dir, opts.big_mib, log.warning)
    except OSError as e:
        print("demohub: cannot prepare the files in %s: %s" % (opts.data_dir, e), file=sys.stderr)
        return 1
    tths = file_hashes([f.disk for f in real], opts.data_dir, log.warning)
    try:
        tls = load_tls(opts.data_dir, log.warning)
    except TlsError as e:
        if opts.tls_port is not None or opts.keyprint_file:
            print("demohub: no TLS certificate: %s" % e, file=sys.stderr)
            return 1
        log.warning("no TLS certificate (%s): no TLS transfers", e)
        tls = None
    if opts.keyprint_file:
        write_text(opts.keyprint_file, tls.keyprint)
    hub = Hub(opts, build_population(real, tths), tls)
    try:
        port = await hub.start()
    except OSError as e:
        ports = " or ".join("%d" % p for p in (opts.port, opts.utf8_port, opts.cp1252_port, opts.tls_port)
                            if p is not None)
        print("demohub: cannot listen on 127.0.0.1 port %s: %s" % (ports, e), file=sys.stderr)
        return 1
    if opts.port_file:
        write_port(opts.port_file, port)
    if opts.utf8_port_file:
        write_port(opts.utf8_port_file, hub.utf8_port)
    if opts.cp1252_port_file:
        write_port(opts.cp1252_port_file, hub.cp1252_port)
    if opts.tls_port_file:
        write_port(opts.tls_port_file, hub.tls_port)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    print("demohub listening on 127.0.0.1:%d" % port, flush=True)
    if hub.utf8_port is not None:
        print("demohub utf-8 listening on 127.0.0.1:%d" % hub.utf8_port, flush=True)
    if hub.cp1252_port is not None:
        print("demohub cp1252 listening on 127.0.0.1:%d" % hub.cp1252_port, flush=True)
    if hub.tls_port is not None:
        print("demohub tls listening on 127.0.0.1:%d" % hub.tls_port, flush=True)
    await stop.wait()
    await hub.stop()
    return 0


def write_port(path: Path, port: int) -> None:
    write_text(path, "%d" % port)


def write_text(path: Path, text: str) -> None:
    """One line, written whole or not at all."""
    tmp = path.with_name(path.name + ".tmp")
    tmp.write_text(text + "\n")
    os.replace(tmp, path)


def main(argv=None) -> int:
    opts = parse_args(sys.argv[1:] if argv is None else argv)
    level = (logging.WARNING, logging.INFO, logging.DEBUG)[min(opts.verbose, 2)]
    logging.basicConfig(level=level, format="%(asctime)s %(name)s: %(message)s")
    try:
        return asyncio.run(run(opts))
    except KeyboardInterrupt:   # Ctrl-C while the files are still being generated
        return 130
