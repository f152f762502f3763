#!/bin/bash
# The whole test run: installs what is missing (as root), builds both
# configurations and runs every test, native and under Wine, headless.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh
jobs=$(nproc 2>/dev/null || echo 2)

# The Win32 behaviour suites print one line per case; show them, so the
# log tells that the same cases pass against hostwin and against Wine.
show_suites() {
    ctest --output-on-failure -V -R '^win32_' 2>&1 |
        grep -E '^[0-9]+: (\[(FAIL| OK )\]|[a-z_]+ on [a-z0-9]+:)' || true
}

echo "== native tests (host layer)"
(cd build/native && show_suites && ctest --output-on-failure -j "$jobs")

echo "== Windows tests (mingw-w64 build under Wine)"
scripts/wine-run --init
export WINEPREFIX=${SAVERPACK_WINEPREFIX:-$root/build/wineprefix} WINEARCH=win32 WINEDEBUG=-all
# One wineserver for the whole run keeps every program start fast. It and
# Wine's services are started here, detached from the output of the tests,
# so that no test's output pipe stays open behind them.
wineserver -p </dev/null >/dev/null 2>&1
scripts/wine-run cmd /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT
(cd build/win32 && show_suites && ctest --output-on-failure -j "$jobs")
echo "== all tests passed"
