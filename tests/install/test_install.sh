#!/usr/bin/env bash
# What a user and a packager get:
# 1. cmake --install of the build under test into a scratch prefix: the
#    program lands in bin/ and runs (--version), the gzipped manual page in
#    share/man/man1/ reads without a warning from man (or, without man,
#    groff), the copyright file and changelog in share/doc/kivo/, and nothing
#    else is installed.
# 2. A Release build with BUILD_TESTING=OFF in a scratch folder (through
#    ccache when there is one): it makes the program alone
#    (no test program, no GoogleTest), installs the same files, and
#    cpack -G DEB makes a package that holds them, which lintian (when
#    installed) passes without an error.
#   test_install.sh <cmake> <cpack> <build dir> <source dir> <generator> <c++ compiler>
set -euo pipefail
CMAKE=$1
CPACK=$2
BUILD=$3
SOURCE=$4
GENERATOR=$5
CXX=$6
SCRATCH=$(mktemp -d /tmp/kivo-install-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# quiet <command...>: runs it, and shows its output only when it fails.
quiet() { "$@" >"$SCRATCH/log" 2>&1 || { cat "$SCRATCH/log"; fail "$*"; }; }

# check_prefix <prefix>: what cmake --install put there.
check_prefix() {
    local prefix=$1
    [ -x "$prefix/bin/kivo" ] || fail "no bin/kivo in $prefix"
    version=$("$prefix/bin/kivo" --version </dev/null) || fail "the installed kivo --version failed"
    case "$version" in
        "kivo "[0-9]*) ;;
        *) fail "--version said '$version'" ;;
    esac

    local page="$prefix/share/man/man1/kivo.1.gz"
    [ -s "$page" ] || fail "no share/man/man1/kivo.1.gz in $prefix"
    local text
    text=$(gzip -dc "$page") || fail "the manual page is not gzip data"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS ADDRESS KEYS FILES "EXIT STATUS"; do
        grep -q "^\.SH \"\?$section\"\?\$" <<<"$text" || fail "the manual page has no $section section"
    done
    # The header names the version the program says it is, not a placeholder.
    grep -q "^\.TH KIVO 1 \"[0-9-]*\" \"$version\" " <<<"$text" || fail "the manual page's .TH is not for $version: $(head -1 <<<"$text")"
    if command -v man >/dev/null; then
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l failed: $warnings"
        [ -z "$warnings" ] || fail "man warns: $warnings"
        MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "kivo - small Direct Connect" || fail "man shows no NAME line"
    elif command -v groff >/dev/null; then
        warnings=$(groff -man -Tutf8 -ww -z <<<"$text" 2>&1) || fail "groff failed: $warnings"
        [ -z "$warnings" ] || fail "groff warns: $warnings"
    else
        echo "neither man nor groff here: the page is checked for its sections only"
    fi

    head -1 "$prefix/share/doc/kivo/copyright" | grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
        fail "share/doc/kivo/copyright is not in Debian's machine-readable format"
    gzip -dc "$prefix/share/doc/kivo/changelog.gz" | head -1 | grep -q "^kivo (${version#kivo }) " ||
        fail "share/doc/kivo/changelog.gz has no entry for $version"

    local installed
    installed=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
    [ "$installed" = "./bin/kivo ./share/doc/kivo/changelog.gz ./share/doc/kivo/copyright ./share/man/man1/kivo.1.gz " ] ||
        fail "installed: $installed"
}

quiet "$CMAKE" --install "$BUILD" --prefix "$SCRATCH/tested"
check_prefix "$SCRATCH/tested"
echo "PASS: install: bin/kivo ($version), its manual page, copyright and changelog"

ONLY="$SCRATCH/build"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
quiet "$CMAKE" -S "$SOURCE" -B "$ONLY" -G "$GENERATOR" -DCMAKE_CXX_COMPILER="$CXX" "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DKIVO_WERROR=ON -DBUILD_TESTING=OFF
quiet "$CMAKE" --build "$ONLY" -j2
[ -x "$ONLY/kivo" ] || fail "BUILD_TESTING=OFF built no kivo"
built=$(cd "$ONLY" && find . -path ./_CPack_Packages -prune -o -type f -perm -u+x -print | grep -v "^./CMakeFiles/" | sort | tr '\n' ' ')
[ "$built" = "./kivo " ] || fail "BUILD_TESTING=OFF built more than the program: $built"
! grep -q "^GTest_DIR:" "$ONLY/CMakeCache.txt" || fail "BUILD_TESTING=OFF still looked for GoogleTest"
quiet "$CMAKE" --install "$ONLY" --prefix "$SCRATCH/program-only"
check_prefix "$SCRATCH/program-only"

(cd "$ONLY" && quiet "$CPACK" -G DEB)
deb=$(echo "$ONLY"/kivo_*.deb)
[ -f "$deb" ] || fail "cpack -G DEB made no package"
if command -v dpkg-deb >/dev/null; then
    contents=$(dpkg-deb -c "$deb")
    for file in ./usr/bin/kivo ./usr/share/man/man1/kivo.1.gz ./usr/share/doc/kivo/copyright ./usr/share/doc/kivo/changelog.gz; do
        grep -q " $file\$" <<<"$contents" || fail "the package has no $file"
    done
    maintainer=$(dpkg-deb -f "$deb" Maintainer)
    grep -qxF "KIVO_MAINTAINER:STRING=$maintainer" "$ONLY/CMakeCache.txt" ||
        fail "the package's maintainer '$maintainer' is not KIVO_MAINTAINER"
else
    echo "no dpkg-deb here: the package's contents are not listed"
fi
if command -v lintian >/dev/null; then
    # Root or not, lintian's own note about privileges is not a finding.
    report=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian: $report"
    ! grep -q "^E:" <<<"$report" || fail "lintian: $report"
    [ -z "$(grep -v "^running with root privileges" <<<"$report")" ] || echo "lintian: $report"
else
    echo "lintian is not installed: the package is not checked by it"
fi
echo "PASS: BUILD_TESTING=OFF builds and installs the program alone; $(basename "$deb") holds the same files"
