#!/bin/bash
# Installs what the build and the tests need and is not yet on this machine
# (Debian 12). Run as root; without root it only reports what is missing.
set -euo pipefail
missing=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || missing+=(cmake)
have ninja || missing+=(ninja-build)
have g++ || missing+=(g++)
have i686-w64-mingw32-g++ || missing+=(g++-mingw-w64-i686 mingw-w64-i686-dev)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
have python3 || missing+=(python3)
need_wine=0
{ have wine && dpkg -s wine32:i386 >/dev/null 2>&1; } || need_wine=1
if [ ${#missing[@]} -eq 0 ] && [ $need_wine -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing ${missing[*]} $([ $need_wine -eq 1 ] && echo wine wine32:i386); run as root to install" >&2
    exit 1
fi
echo "setup: installing ${missing[*]} $([ $need_wine -eq 1 ] && echo wine wine32:i386)"
if [ $need_wine -eq 1 ]; then
    dpkg --add-architecture i386
    missing+=(wine wine32:i386)
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
