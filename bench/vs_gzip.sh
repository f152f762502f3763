#!/bin/bash
# Times the saverpack tool against gzip on the codec benchmark's 1 MiB of
# English-like text, file to file, in one run: `saverpack compress` against
# `gzip -6`, and `saverpack decompress` against `gzip -d`. Prints the median
# times and the speed ratios (gzip's time divided by saverpack's, so above 1
# means saverpack is faster). The four commands take turns, run after run
# (no shell in between; gzip writes through an opened file as a shell
# redirection would), so that a slow spell of a shared machine slows all of
# them alike, and the median leaves out the runs it slowed most. All of them
# run on the same core.
#
#   bash bench/vs_gzip.sh [BUILD_DIR] [INPUT] [RUNS]  (default build/native, the text, 40)
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

python3 - "$tool" "$in" "$work" "${3:-40}" <<'PY'
import os, statistics, subprocess, sys, time
tool, source, work, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
# Every run on the same core (the children inherit it), so that no run is
# moved between cores halfway or lands beside another's leftovers.
if hasattr(os, "sched_setaffinity"):
    os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})
commands = [
    (["gzip", "-6", "-c", source], f"{work}/o.gz"),
    ([tool, "compress", source, f"{work}/o.rc"], None),
    (["gzip", "-d", "-c", f"{work}/in.gz"], f"{work}/o1"),
    ([tool, "decompress", f"{work}/in.rc", f"{work}/o2"], None),
]
def run(argv, out):
    start = time.perf_counter()
    if out is None:
        subprocess.run(argv, check=True)
    else:
        with open(out, "wb") as f:
            subprocess.run(argv, stdout=f, check=True)
    return time.perf_counter() - start
times = [[] for _ in commands]
for turn in range(runs + 5):
    for i, (argv, out) in enumerate(commands):
        t = run(argv, out)
        if turn >= 5:  # the first turns warm the caches up
            times[i].append(t)
gz, sc, gd, sd = (statistics.median(t) for t in times)
print(f"compress:   gzip -6 {gz*1e3:7.2f} ms   saverpack {sc*1e3:7.2f} ms   ratio {gz/sc:.2f}x")
print(f"decompress: gzip -d {gd*1e3:7.2f} ms   saverpack {sd*1e3:7.2f} ms   ratio {gd/sd:.2f}x")
PY
