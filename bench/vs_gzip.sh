#!/bin/bash
# Times the saverpack tool against gzip on the codec benchmark's 1 MiB of
# English-like text, file to file, in one run: `saverpack compress` against
# `gzip -6`, and `saverpack decompress` against `gzip -d`. Prints the mean
# times and the speed ratios (gzip's time divided by saverpack's, so above 1
# means saverpack is faster). Uses hyperfine when present, else a timed loop.
#
#   bash bench/vs_gzip.sh [BUILD_DIR] [INPUT]    (default build/native, the text)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/native}
cmake --build "$build" --target saverpack make_inputs >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/make_inputs" "$work"
in=${2:-$work/text-1MiB}
tool=$build/saverpack

gzip -6 -c "$in" >"$work/in.gz"
"$tool" compress "$in" "$work/in.rc"
"$tool" decompress "$work/in.rc" "$work/back"
cmp -s "$in" "$work/back" || { echo "saverpack round trip differs" >&2; exit 1; }
echo "input: $(basename "$in"), $(stat -c %s "$in") bytes; gzip -6: $(stat -c %s "$work/in.gz"), saverpack: $(stat -c %s "$work/in.rc")"

commands=(
    "gzip -6 -c '$in' >'$work/o.gz'"
    "'$tool' compress '$in' '$work/o.rc'"
    "gzip -d -c '$work/in.gz' >'$work/o1'"
    "'$tool' decompress '$work/in.rc' '$work/o2'"
)
declare -a mean
if command -v hyperfine >/dev/null 2>&1; then
    hyperfine --warmup 5 --runs 40 --export-json "$work/times.json" "${commands[@]}" >/dev/null 2>&1
    mapfile -t mean < <(python3 -c "import json,sys; [print(r['mean']) for r in json.load(open(sys.argv[1]))['results']]" "$work/times.json")
else
    for c in "${commands[@]}"; do
        bash -c "$c"
        start=$(date +%s%N)
        for _ in $(seq 40); do bash -c "$c"; done
        mean+=("$(( ($(date +%s%N) - start) / 40 ))e-9")
    done
fi
python3 - "${mean[@]}" <<'PY'
import sys
gz, sc, gd, sd = (float(x) for x in sys.argv[1:5])
print(f"compress:   gzip -6 {gz*1e3:7.2f} ms   saverpack {sc*1e3:7.2f} ms   ratio {gz/sc:.2f}x")
print(f"decompress: gzip -d {gd*1e3:7.2f} ms   saverpack {sd*1e3:7.2f} ms   ratio {gd/sd:.2f}x")
PY
