#!/bin/bash
# Installs what the build and the tests need and is not yet on this machine
# (Debian 12). Run as root; without root it only reports what is missing.
set -euo pipefail
have() { command -v "$1" >/dev/null 2>&1; }

# What is missing now.
missing=()
need_wine=0
check() {
    missing=()
    have cmake || missing+=(cmake)
    have ninja || missing+=(ninja-build)
    have g++ || missing+=(g++)
    have i686-w64-mingw32-g++ || missing+=(g++-mingw-w64-i686 mingw-w64-i686-dev)
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
    [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
    have python3 || missing+=(python3)
    need_wine=0
    { have wine && dpkg -s wine32:i386 >/dev/null 2>&1; } || need_wine=1
    # A kernel that cannot run 32-bit x86 programs ("exec format error")
    # cannot run Wine either; the tests then run the codec's 32-bit build
    # under qemu's emulation instead (see scripts/test.sh).
    if "$(dirname "${BASH_SOURCE[0]}")/refuses-32bit"; then
        have qemu-i386 || missing+=(qemu-user)
        [ -d /usr/lib/gcc/x86_64-linux-gnu/12/32 ] || missing+=(g++-multilib)
    fi
}

install_missing() {
    echo "setup: installing ${missing[*]} $([ $need_wine -eq 1 ] && echo wine wine32:i386)"
    if [ $need_wine -eq 1 ]; then
        dpkg --add-architecture i386
        missing+=(wine wine32:i386)
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

check
if [ ${#missing[@]} -eq 0 ] && [ $need_wine -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing ${missing[*]} $([ $need_wine -eq 1 ] && echo wine wine32:i386); run as root to install" >&2
    exit 1
fi
install_missing
# Whether the 32-bit programs that Wine brought can run shows only now.
check
if [ ${#missing[@]} -ne 0 ] || [ $need_wine -ne 0 ]; then
    install_missing
fi
