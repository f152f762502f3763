#!/bin/bash
# The Windows build of saverpack, run under Wine, must produce exactly the
# bytes of the native build.
# Usage: windows_agrees.sh WINE_RUN WINDOWS_TOOL NATIVE_TOOL
set -euo pipefail
wine_run=$1 windows_tool=$2 native_tool=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 70000 /dev/urandom > random.bin
printf 'abc' > abc.txt
: > empty.bin
{ head -c 16371 random.bin; printf '1ULG2ULG'; head -c 3000 random.bin; } > marked.bin
printf 'twenty bytes payload' > payload.bin
failures=0
run_both() {  # name, args... (OUT is the last argument's placeholder)
    local name=$1; shift
    "$native_tool" "$@" "native-$name" >/dev/null || { echo "native failed: $*"; failures=$((failures+1)); return; }
    "$wine_run" "$windows_tool" "$@" "windows-$name" >/dev/null || { echo "windows failed: $*"; failures=$((failures+1)); return; }
    if cmp -s "native-$name" "windows-$name"; then
        echo "[ OK ] $name"
    else
        echo "[FAIL] $name: outputs differ"; failures=$((failures+1))
    fi
}
run_both default-key scramble random.bin
run_both empty-key scramble --key= random.bin
run_both long-key scramble --key=0123456789-ignored abc.txt
run_both unscramble scramble --key=KNOT --unscramble random.bin
run_both empty-input scramble empty.bin
run_both patch patch --payload=payload.bin marked.bin
run_both patch-scrambled patch --scramble --store-offset --payload=payload.bin marked.bin
# The codec and the framed block stream: the same streams on both, and each
# build decompresses the other's.
for i in $(seq 3000); do printf 'line %d of a text that says much the same thing, %d times\n' "$i" $((i % 7)); done > text.txt
run_both compress-text compress text.txt
run_both compress-random compress random.bin
run_both compress-empty compress empty.bin
run_both compress-abc compress abc.txt
run_both decompress-text decompress native-compress-text
run_both decompress-random decompress native-compress-random
if cmp -s native-decompress-text text.txt && cmp -s windows-decompress-random random.bin; then
    echo "[ OK ] stream-round-trips"
else
    echo "[FAIL] stream-round-trips"; failures=$((failures+1))
fi
head -c 5000 native-compress-random > damaged.rc
if "$wine_run" "$windows_tool" decompress damaged.rc windows-damaged >/dev/null 2>&1 || [ -e windows-damaged ]; then
    echo "[FAIL] damaged-stream: accepted or left output"; failures=$((failures+1))
else
    echo "[ OK ] damaged-stream"
fi
# Standard input and output go through unchanged bytes on both.
"$native_tool" scramble - - < random.bin > native-pipe
"$wine_run" "$windows_tool" scramble - - < random.bin > windows-pipe
if cmp -s native-pipe windows-pipe && cmp -s native-pipe native-default-key; then
    echo "[ OK ] standard-streams"
else
    echo "[FAIL] standard-streams"; failures=$((failures+1))
fi
# Glue archives: the same archive bytes from both, and each reads the
# other's archive alike.
same() {  # name, file1, file2
    if cmp -s "$2" "$3"; then echo "[ OK ] $1"; else echo "[FAIL] $1: outputs differ"; failures=$((failures+1)); fi
}
entries=(A=random.bin --xor=7 B=abc.txt --inline=N=0102 --alias=C=A --stored E=empty.bin)
"$native_tool" create native.glue "${entries[@]}"
"$wine_run" "$windows_tool" create windows.glue "${entries[@]}"
same archive-create native.glue windows.glue
"$native_tool" list --json windows.glue > native-list
"$wine_run" "$windows_tool" list --json native.glue > windows-list
same archive-list native-list windows-list
"$wine_run" "$windows_tool" extract native.glue a -o windows-A
same archive-extract random.bin windows-A
"$wine_run" "$windows_tool" extract native.glue --all -C windows-all
same archive-extract-all abc.txt windows-all/B
if "$wine_run" "$windows_tool" verify native.glue >/dev/null; then
    echo "[ OK ] archive-verify"
else
    echo "[FAIL] archive-verify"; failures=$((failures+1))
fi
head -c 100 random.bin > not-an-archive
if "$wine_run" "$windows_tool" list not-an-archive 2>windows-err; then
    echo "[FAIL] archive-no-directory: succeeded"; failures=$((failures+1))
elif grep -q 'no glue archive directory found' windows-err; then
    echo "[ OK ] archive-no-directory"
else
    echo "[FAIL] archive-no-directory: $(cat windows-err)"; failures=$((failures+1))
fi
echo "windows build agrees with native: $failures failures"
[ "$failures" -eq 0 ]
