#!/usr/bin/env bash
# The Users screen against the demo hub: after Connect it lists every demo
# user once, sorted byte-wise in code page 1251 (upper case before lower case,
# Latin before Cyrillic), with their shares in units; typing "penp" selects
# PenPal, whose INFO shows what the hub said of him; ">nick" on PenPal
# puts ">PenPal " into the input line with the caret after the blank, the
# private message goes out and PenPal's answer shows as ">PenPal> ..."; the
# selection is kept by position, and "ToChat" on bob gives "bob: " with the
# caret after it.
#
# The terminal is 70 rows tall so that the whole list is on screen at once.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" lister
e2e_start_kivo 80 70
e2e_wait "|Pelmark tarvol v 0.05 "

e2e_keys F1 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, lister!" 15

e2e_keys F1 8
e2e_wait "|>Alice   "
e2e_wait "| Menu                                                                    EXIT |"

# The rows "|>name   1.5 GiB   |" or "| name   123 B   |", in the order
# listed, held against the demo hub's own population: every user exactly
# once, each regular user with his share in units (bobby's 4294967296 bytes,
# past 32 bits, as "4.0 GiB"), all in byte order of code page 1251.
screen=$(e2e_screen)
rows=$(sed -nE 's/^\|[> ](.+   [0-9]+(\.[0-9])? (B|[KMGTPE]iB)) +\|$/\1/p' <<<"$screen")
names=$(sed -E 's/   [0-9.]+ [KMGTPE]?i?B$//' <<<"$rows")
count=$(wc -l <<<"$names")
PYTHONPATH="$REPO_ROOT/tools" python3 - "$rows" <<'PY' || e2e_fail "the list is not the hub's users, whole shares, in byte order"
import sys
from demohub.population import REGULARS, SPECIALS
expected = {"Hub-Security": None, "lister": 1234567890}
expected.update({nick: share for nick, share, _ in REGULARS})
expected.update({nick: share for nick, _, share, _ in SPECIALS})
listed = [row.rsplit("   ", 1) for row in sys.argv[1].split("\n")]


def units(n):
    if n < 1024:
        return "%d B" % n
    u, unit = 0, 1024
    while u < 5 and n // unit >= 1024:
        u, unit = u + 1, unit << 10
    whole, tenths = n // unit, (n % unit * 10 + unit // 2) // unit
    if tenths == 10:
        whole, tenths = whole + 1, 0
    if whole == 1024 and u < 5:
        whole, u = 1, u + 1
    return "%d.%d %s" % (whole, tenths, ("KiB", "MiB", "GiB", "TiB", "PiB", "EiB")[u])


names = [name for name, _ in listed]
if sorted(names) != sorted(expected):
    print("missing:", set(expected) - set(names), "extra:", set(names) - set(expected))
    sys.exit(1)
for name, shown in listed:
    if expected[name] is not None and shown != units(expected[name]):
        print(name, "shown with", shown, "not", expected[name])
        sys.exit(1)
keys = [n.encode("cp1251") for n in names]
for a, b in zip(keys, keys[1:]):
    if not a < b:
        print("out of order:", a.decode("cp1251"), "before", b.decode("cp1251"))
        sys.exit(1)
PY
row_of() { grep -nxF -- "$1" <<<"$names" | cut -d: -f1; }
[ "$(row_of Alice)" -lt "$(row_of alice)" ] || e2e_fail "Alice not above alice"
[ "$(row_of ann)" -lt "$(row_of anna)" ] || e2e_fail "ann not above anna"
[ "$(row_of bob)" -lt "$(row_of bobby)" ] || e2e_fail "bob not above bobby"
[ "$(row_of zed)" -lt "$(row_of Вася)" ] || e2e_fail "Latin not above Cyrillic"
[ "$(row_of МАША)" -lt "$(row_of Маша)" ] || e2e_fail "МАША not above Маша"

# Down to PenPal, then its INFO.
# Sends the key n times in one go.
keys_times() {
    local key=$1 n=$2 keys=()
    while [ "$n" -gt 0 ]; do
        keys+=("$key")
        n=$((n - 1))
    done
    [ ${#keys[@]} = 0 ] || e2e_keys "${keys[@]}"
}

penpal=$(row_of PenPal)
e2e_type "penp"                                 # type-ahead, case aside
e2e_wait "|>PenPal   "
e2e_keys F1
e2e_wait "4 INFO"
e2e_keys 4
e2e_wait "share: 12345678901 bytes (11.5 GiB)"
screen=$(e2e_screen)
grep -qE '^\| *tag: <[^>]+,M:[AP],' <<<"$screen" || e2e_fail "INFO shows no tag with a mode"
grep -qE '^\| *mode: (active|passive) ' <<<"$screen" || e2e_fail "INFO shows no mode"
grep -qF 'TLS: no' <<<"$screen" || e2e_fail "INFO shows no TLS line"
e2e_keys Enter                                  # closes the box
e2e_wait_gone "share: 12345678901 bytes"
e2e_wait "|>PenPal   "
e2e_keys F1
e2e_wait "6 >nick"
e2e_keys 6
e2e_wait_main
e2e_wait "|[>PenPal                                                                     ]|"
e2e_type "hi pal, Привет"
e2e_wait "|[>PenPal hi pal, Привет "
e2e_keys Enter
e2e_wait "|>PenPal> You wrote: hi pal, Привет "
e2e_wait "|[                                                                            ]|"

# Reopened, the list selects the same position; "ToChat" on bob.
e2e_keys F1 8
e2e_wait "|>PenPal   "
bob=$(row_of bob)
if [ "$bob" -lt "$penpal" ]; then keys_times Up $((penpal - bob)); else keys_times Down $((bob - penpal)); fi
e2e_wait "|>bob   "
e2e_keys F1
e2e_wait "1 ToChat"
e2e_keys 1
e2e_wait_main
e2e_wait "|[bob:                                                                        ]|"
e2e_type "hi"                                   # typed after "bob: "
e2e_wait "|[bob: hi                                                                     ]|"
e2e_keys Enter
e2e_wait "|<lister> bob: hi "

e2e_exit
e2e_pass "$count users sorted with shares in units, PenPal found by typing and his INFO shown, PRIVAT to PenPal answered, ToChat on bob"
