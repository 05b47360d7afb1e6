#!/usr/bin/env bash
# Start-up time to the first drawn screen: the real kivo binary is started on
# a fresh pseudo-terminal of 80x24, and a reader on the terminal's other end
# timestamps the first output byte and the moment the whole first screen has
# arrived: the banner "Pelmark tarvol v 0.05" and the soft-key bar's
# "Search" after it. Ctrl-C (the close request) then ends it. One warm-up
# run, then N runs (default 11); prints each and the medians. The same
# measurement of /bin/echo shows what starting a process costs here at all.
# All of it twice: on the machine as it is ("quiet"), then "loaded", with one
# busy loop per core running beside it. Prints both side by side and fails
# when Kivo's whole first screen takes more than three times /bin/echo's
# time in either. Not part of the test suite.
#
#   bash bench/startup_time.sh <kivo-binary> <repo-root> [runs]
. "$(dirname "$0")/lib.sh" "$@"
runs=${3:-11}
LOAD_PIDS=()
stop_load() { [ ${#LOAD_PIDS[@]} -eq 0 ] || kill "${LOAD_PIDS[@]}" 2>/dev/null || true; LOAD_PIDS=(); }
trap 'status=$?; stop_load; (exit $status); bench_cleanup' EXIT

# A favourite hub that is not contacted: start-up reads the file, nothing more.
bench_favorites 127.0.0.1 1 starter

measure() {
python3 - "$BENCH_WORK/bin/kivo" "$BENCH_WORK/cwd" "$runs" "$1" <<'EOF'
import fcntl, os, select, signal, statistics, struct, subprocess, sys, termios, time

kivo, cwd, runs, label = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
BANNER = b"Pelmark tarvol v 0.05"
LAST = b"Search"
WAIT_S = 10.0

def start_on_pty(argv):
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    env = dict(os.environ, TERM="xterm-256color")
    start = time.monotonic()
    child = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave, cwd=cwd, env=env,
                             start_new_session=True)
    os.close(slave)
    return child, master, start

def read_until(master, start, wanted):
    """Seconds from start to the first byte and to each wanted text in order."""
    seen, first, times = b"", None, []
    while len(times) < len(wanted) and time.monotonic() - start < WAIT_S:
        ready, _, _ = select.select([master], [], [], 0.5)
        if not ready:
            continue
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        now = time.monotonic()
        if first is None:
            first = now - start
        seen += chunk
        while len(times) < len(wanted):
            text = wanted[len(times)]
            at = seen.find(text)
            if at < 0:
                break
            seen = seen[at + len(text):]
            times.append(now - start)
    return first, times

def drain(master):
    while select.select([master], [], [], 0)[0]:
        try:
            if not os.read(master, 65536):
                return
        except OSError:
            return

def one_kivo():
    child, master, start = start_on_pty([kivo])
    first, times = read_until(master, start, [BANNER, LAST])
    os.write(master, b"\x03")          # Ctrl-C: the close request
    try:
        child.wait(timeout=5)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
    drain(master)
    os.close(master)
    if first is None or len(times) < 2:
        sys.exit("kivo did not draw its first screen within %.0f s" % WAIT_S)
    return first, times[0], times[1]

def one_echo():
    child, master, start = start_on_pty(["/bin/echo", "ready"])
    first, _ = read_until(master, start, [b"ready"])
    child.wait()
    os.close(master)
    return first

ms = lambda s: s * 1000.0
one_kivo()  # warm-up: binary and libraries into the page cache
rows = []
for run in range(runs):
    first, banner, whole = one_kivo()
    rows.append((first, banner, whole))
    print("run %2d: first byte %6.2f ms, banner %6.2f ms, whole first screen %6.2f ms"
          % (run + 1, ms(first), ms(banner), ms(whole)))
echo = [one_echo() for _ in range(runs)]
print("median of %d runs: first byte %.2f ms, banner %.2f ms, whole first screen %.2f ms"
      % (runs, ms(statistics.median(r[0] for r in rows)), ms(statistics.median(r[1] for r in rows)),
         ms(statistics.median(r[2] for r in rows))))
print("same measurement of /bin/echo: %.2f ms (the cost of starting any process here)"
      % ms(statistics.median(echo)))
whole, base = statistics.median(r[2] for r in rows), statistics.median(echo)
print("SUMMARY %s %.2f %.2f %.2f" % (label, ms(whole), ms(base), whole / base))
EOF
}

echo "== quiet"
measure quiet | tee "$BENCH_WORK/quiet"
for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    LOAD_PIDS+=($!)
done
echo "== loaded: $(nproc) busy loops beside it"
measure loaded | tee "$BENCH_WORK/loaded"
stop_load
echo
printf '%-8s %24s %12s %12s\n' "" "kivo whole first screen" "/bin/echo" "kivo/echo"
failed=0
for label in quiet loaded; do
    read -r _ _ whole echo_ms ratio < <(grep '^SUMMARY' "$BENCH_WORK/$label")
    printf '%-8s %21s ms %9s ms %12s\n' "$label" "$whole" "$echo_ms" "$ratio"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 3) }'; then failed=1; fi
done
[ $failed -eq 0 ] || bench_fail "start-up took more than three times /bin/echo"
echo "target: within three times /bin/echo, quiet and loaded: met"
