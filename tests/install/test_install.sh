#!/usr/bin/env bash
# cmake --install into a scratch prefix: the program lands in bin/ and runs
# (--version), the manual page in share/man/man1/ and reads without a
# warning from man (or, without man, groff), and nothing else is installed.
#   test_install.sh <cmake> <build dir>
set -euo pipefail
CMAKE=$1
BUILD=$2
PREFIX=$(mktemp -d /tmp/kivo-install-XXXXXX)
trap 'rm -rf "$PREFIX"' EXIT

"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$PREFIX.log" 2>&1 || { cat "$PREFIX.log"; rm -f "$PREFIX.log"; exit 1; }
rm -f "$PREFIX.log"

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$PREFIX/bin/kivo" ] || fail "no bin/kivo"
version=$("$PREFIX/bin/kivo" --version </dev/null) || fail "the installed kivo --version failed"
case "$version" in
    "kivo "[0-9]*) ;;
    *) fail "--version said '$version'" ;;
esac

page="$PREFIX/share/man/man1/kivo.1"
[ -s "$page" ] || fail "no share/man/man1/kivo.1"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS ADDRESS KEYS FILES "EXIT STATUS"; do
    grep -q "^\.SH \"\?$section\"\?\$" "$page" || fail "the manual page has no $section section"
done
if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l failed: $warnings"
    [ -z "$warnings" ] || fail "man warns: $warnings"
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "kivo - small Direct Connect" || fail "man shows no NAME line"
elif command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff failed: $warnings"
    [ -z "$warnings" ] || fail "groff warns: $warnings"
else
    echo "neither man nor groff here: the page is checked for its sections only"
fi

installed=$(cd "$PREFIX" && find . -type f | sort | tr '\n' ' ')
[ "$installed" = "./bin/kivo ./share/man/man1/kivo.1 " ] || fail "installed: $installed"
echo "PASS: install: bin/kivo ($version), share/man/man1/kivo.1"
