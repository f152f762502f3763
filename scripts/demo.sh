#!/bin/bash
# The main job, as far as it exists: builds saverpack and shows what it
# does, on a small payload made here.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh >/dev/null
tool=$root/build/native/saverpack
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$tool" --version

echo "-- a program with a patch marker and room after it, and two data files"
{ printf 'MZ program image '; printf '1ULG2ULG'; head -c 64 /dev/zero; printf ' end of image\n'; } > saver.bin
printf 'twenty byte record!!' > record.bin
for i in $(seq 2000); do echo "line $i of the screensaver's data"; done > data.txt

echo "-- patch the program: the marker becomes a scrambled parameter block"
"$tool" patch saver.bin saver.patched --payload=record.bin --scramble

echo "-- build a glue archive: the program stored first, the data compressed"
"$tool" create demo.glue SAVER=saver.patched --compress DATA=data.txt \
    --alias=DATA2=DATA --xor=0x5A README=record.bin --inline=FLAG=01ff
"$tool" list demo.glue
"$tool" verify demo.glue

echo "-- extract everything and compare"
mkdir out
"$tool" extract demo.glue --all -C out
cmp out/DATA data.txt && cmp out/SAVER saver.patched && echo "extracted entries match"

echo "-- compress and decompress a file through standard streams"
"$tool" compress data.txt - | "$tool" decompress - - | cmp - data.txt && echo "round trip ok"
ls -l data.txt | awk '{print "plain:", $5, "bytes"}'
"$tool" compress data.txt data.rc && ls -l data.rc | awk '{print "framed LZHUF stream:", $5, "bytes"}'

echo "-- scramble with the directory key and back"
"$tool" scramble --key=KNOT record.bin - | "$tool" scramble --key=KNOT --unscramble - -
echo
