"""Command line, start-up and shutdown of the demo hub.

Start-up order: generate or reuse the real files, their TTHs (rhash, once
for all files not in the cache), build the population, listen, then print
the one line "demohub listening on 127.0.0.1:<port>" (tests wait for it)
and write the port file.  SIGTERM and SIGINT stop the
hub: the listener and every connection are closed and the process exits 0.
"""

import argparse
import asyncio
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
from .tth import file_hashes

DEFAULT_PORT, SECOND_PORT = 2225, 2226
DEFAULT_NAME, SECOND_NAME = "Kivo Demo Hub", "Kivo Demo Hub 2"


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
    p.add_argument("--quiet", action="store_true",
                   help="no chatter; Mira answers only lines that name her, at once")
    p.add_argument("--slow-kibps", type=int, default=200, help="Slowpoke's rate (default 200)")
    p.add_argument("--login-pause-ms", type=int, default=200,
                   help="pause between the first login reply and the user list; "
                        "0: one write like PtokaX (default 200)")
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
    if not 0 <= opts.port <= 65535 or opts.big_mib < 0 or opts.slow_kibps < 1:
        p.error("bad port, --big-mib or --slow-kibps")
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
    hub = Hub(opts, build_population(real, tths))
    try:
        port = await hub.start()
    except OSError as e:
        print("demohub: cannot listen on 127.0.0.1:%d: %s" % (opts.port, e), file=sys.stderr)
        return 1
    print("demohub listening on 127.0.0.1:%d" % port, flush=True)
    if opts.port_file:
        tmp = opts.port_file.with_name(opts.port_file.name + ".tmp")
        tmp.write_text("%d\n" % port)
        os.replace(tmp, opts.port_file)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    await hub.stop()
    return 0


def main(argv=None) -> int:
    opts = parse_args(sys.argv[1:] if argv is None else argv)
    level = (logging.WARNING, logging.INFO, logging.DEBUG)[min(opts.verbose, 2)]
    logging.basicConfig(level=level, format="%(asctime)s %(name)s: %(message)s")
    try:
        return asyncio.run(run(opts))
    except KeyboardInterrupt:   # Ctrl-C while the files are still being generated
        return 130
