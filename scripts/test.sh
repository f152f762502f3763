#!/bin/bash
# The whole test run: installs what is missing (as root), builds both
# configurations and runs every test, native and under Wine, headless.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)

# Runs every test of one build once. The whole verbose log goes to
# ctest.log in the build folder; shown are the case lines of the Win32
# behaviour suites (so the log tells that the same cases pass against
# hostwin and against Wine), the summary, and on failure the log's end.
run_tests() {
    if ctest --output-on-failure -V -j "$jobs" >ctest.log 2>&1; then
        grep -E '^[0-9]+: (\[(FAIL| OK )\]|[a-z_]+ on [a-z0-9]+:)' ctest.log || true
        grep -E 'tests passed' ctest.log
    else
        tail -n 200 ctest.log
        return 1
    fi
}

echo "== native tests (host layer)"
(cd build/native && run_tests)

# Wine runs the Windows build as a 32-bit x86 process. A kernel without
# 32-bit support refuses every such program ("exec format error", exit
# 126). There nothing of the Windows build can run: the run makes its checks
# that run none of it, checks the codec's 32-bit code under emulation, and
# says that the Wine tests were skipped.
if scripts/refuses-32bit; then
    echo "== Windows build: checks that run none of it"
    (cd build/win32 && ctest --output-on-failure -R '^no_allocation_in_system_code$' | grep -E 'tests passed|Failed')
    # The codec's 32-bit x86 code (the Windows build's) against the plain
    # reference codec, over the saved agreement corpus, under emulation.
    echo "== the codec built for 32-bit x86, under qemu-i386"
    mkdir -p build/i386
    g++ -m32 -static -std=c++20 -O2 -I. -fno-exceptions -fno-rtti -o build/i386/codec_agreement_replay \
        fuzz/replay_main.cpp fuzz/codec_agreement_fuzzer.cpp codec/lzhuf.cpp tests/codec/reference_lzhuf.cpp
    timeout 600 qemu-i386 build/i386/codec_agreement_replay fuzz/corpus/codec_agreement
    echo "== Windows tests SKIPPED: this machine's kernel cannot run 32-bit x86 programs"
    echo "   (exec format error), so Wine cannot run the Windows build here"
    echo "== all tests that this machine can run passed"
    exit 0
fi

echo "== Windows tests (mingw-w64 build under Wine)"
scripts/wine-run --init
export WINEPREFIX=${SAVERPACK_WINEPREFIX:-$root/build/wineprefix} WINEARCH=win32 WINEDEBUG=-all
# One wineserver for the whole run keeps every program start fast. It and
# Wine's services are started here, detached from the output of the tests,
# so that no test's output pipe stays open behind them.
wineserver -p </dev/null >/dev/null 2>&1
scripts/wine-run cmd /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
(cd build/win32 && run_tests)
echo "== all tests passed"
