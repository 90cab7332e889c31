#!/bin/sh
# Compressed data crosses both ways between Kov and the system's gzip and zstd tools and
# python3's zlib: the tools compress four samples (empty, small, large text, incompressible)
# for compress.kov to decode, and decode every stream compress.kov writes back.
# Usage: compress.sh path/to/kov. Exits 77 (skipped) when a tool is missing.
set -eu
kov=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in gzip zstd python3; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

: > empty.bin
printf 'hello, world\n' > small.bin
# python3 starts slowly on some machines: one run makes the samples and their zlib and raw
# deflate streams, and one more decodes every such stream of Kov's below.
python3 - <<'PY'
import random, zlib
open("large.bin", "wb").write(b"".join(b"line %d of the text\n" % i for i in range(40000)))
random.seed(5)
open("noise.bin", "wb").write(bytes(random.getrandbits(8) for _ in range(200000)))
for s in ["empty", "small", "large", "noise"]:
    data = open(s + ".bin", "rb").read()
    open(s + ".zlib", "wb").write(zlib.compress(data))
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    open(s + ".deflate", "wb").write(packer.compress(data) + packer.flush())
PY

for s in empty small large noise; do
  gzip -9 -c "$s.bin" > "$s.gz"            # the file's name goes in the header
  gzip -c < "$s.bin" > "$s.stdin.gz"       # no name
  zstd -q -19 -c "$s.bin" > "$s.zst"       # the content size is declared
  zstd -q -c < "$s.bin" > "$s.stream.zst"  # no content size
done

out=$("$kov" "$here/compress.kov" "$dir")
echo "$out"
case "$out" in *"decoded with 0 mismatches"*) ;; *) echo "FAIL: Kov did not decode the tools' streams"; exit 1 ;; esac

failed=0
check() {  # check FILE SAMPLE DECODER...
  file=$1 sample=$2
  shift 2
  if ! "$@" < "$file" > decoded 2>/dev/null || ! cmp -s decoded "$sample.bin"; then
    echo "FAIL: $* does not give $sample back from $file"
    failed=1
  fi
}
count=0
: > python-checks
for s in empty small large noise; do
  for f in "$s".kov.*; do
    case "$f" in
      *.gzip) check "$f" "$s" gzip -dc ;;
      *.zstd) check "$f" "$s" zstd -qdc ;;
      *.zlib) echo "$f $s 15" >> python-checks ;;
      *.deflate) echo "$f $s -15" >> python-checks ;;
      *) echo "FAIL: unexpected file $f"; failed=1 ;;
    esac
    count=$((count + 1))
  done
done
# Each line: a stream of Kov's, its sample, the window bits (15 zlib, -15 raw deflate).
python3 - <<'PY' || failed=1
import sys, zlib
bad = 0
for line in open("python-checks"):
    f, sample, wbits = line.split()
    try:
        ok = zlib.decompress(open(f, "rb").read(), int(wbits)) == open(sample + ".bin", "rb").read()
    except zlib.error:
        ok = False
    if not ok:
        print("FAIL: python3's zlib does not give %s back from %s" % (sample, f))
        bad = 1
sys.exit(bad)
PY
[ "$count" -eq 60 ] || { echo "FAIL: Kov wrote $count streams, not 60"; failed=1; }
[ "$failed" -eq 0 ] && echo "the tools decoded all $count streams of Kov"
exit "$failed"
