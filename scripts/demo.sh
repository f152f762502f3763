#!/bin/bash
# The main job, as far as it exists: builds saverpack and shows what it does.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
tool=$root/build/native/saverpack
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" --version
printf 'Hello from saverpack.\n' > "$work/hello.txt"
echo "-- scramble with the default key, then unscramble:"
"$tool" scramble "$work/hello.txt" "$work/hello.scr"
od -An -tx1 "$work/hello.scr"
"$tool" scramble --unscramble "$work/hello.scr" -
echo "-- the same with the directory key KNOT through standard streams:"
"$tool" scramble --key=KNOT - - < "$work/hello.txt" | od -An -tx1
