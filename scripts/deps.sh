#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the demo hub need
# and this machine lacks. Sourced by run.sh and test.sh.
kivo_install_deps() {
    local wanted=(cmake g++ ninja-build libgtest-dev libncurses-dev librhash-dev libexpat1-dev libbz2-dev libmbedtls-dev openssl rhash tmux python3 iproute2 "$@")
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >/dev/null
}

# Like kivo_install_deps for packages that only some tests use; a package that
# cannot be had is reported and left out, and those tests skip.
kivo_install_optional() {
    local p
    for p in "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 && continue
        echo "installing (optional): $p"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        { $sudo apt-get update -q >/dev/null &&
            DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$p" >/dev/null; } ||
            echo "not installed: $p (the tests that need it skip)"
    done
}
