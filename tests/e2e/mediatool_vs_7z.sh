#!/usr/bin/env bash
# mediatool ls -r of images made by xorriso and genisoimage lists the same
# paths, kinds and file sizes as 7z, an independent ISO 9660 and UDF reader
# (a UDF bridge image is listed through its UDF tree on both sides); cat
# gives the files' bytes, verify passes, and bad input gets one error line.
# usage: mediatool_vs_7z.sh MEDIATOOL
set -euo pipefail
mediatool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

src=$work/src
mkdir -p "$src/a/b/c/d/e/f/g" "$src/empty folder" "$src/Mixed Case"
printf 'hello\n' >"$src/a/b/c/d/e/f/g/deep.txt"
: >"$src/empty.txt"
head -c 100000 /dev/urandom >"$src/random.bin"
head -c 2048 /dev/zero >"$src/sector.bin"
printf 'x' >"$src/Ünïcödé — 日本語のファイル名 with a tail long enough to pass sixty-four.txt"
printf 'abc' >"$src/Mixed Case/Ελληνικά.txt"
printf '12' >"$src/a/two.dat"

xorriso -as mkisofs -J -joliet-long -V XORRISO -o "$work/joliet.iso" "$src" >/dev/null 2>&1
genisoimage -J -joliet-long -V GJOLIET -o "$work/genjoliet.iso" "$src" >/dev/null 2>&1
genisoimage -V LEVEL1 -o "$work/level1.iso" "$src" >/dev/null 2>&1
genisoimage -udf -J -joliet-long -V BRIDGE -o "$work/bridge.udf.iso" "$src" >/dev/null 2>&1

status=0
for image in "$work"/*.iso; do
  # mediatool: kind, size (12 wide), two 19-wide times, then the path.
  "$mediatool" ls "$image" -r |
    awk '{ path = substr($0, 56); if ($1 == "d") print "d " path; else print "f " $2 " " path }' |
    LC_ALL=C sort >"$work/mediatool.txt"
  type=()
  case "$image" in *.udf.iso) type=(-tudf) ;; esac
  7z l -slt "${type[@]}" "$image" |
    awk '/^----------/ { listing = 1; next }
         listing && /^Path = / { path = substr($0, 8) }
         listing && /^Folder = / { folder = substr($0, 10) }
         listing && /^Size = / { size = substr($0, 8); if (folder == "+") print "d " path; else print "f " size " " path }' |
    LC_ALL=C sort >"$work/7z.txt"
  if [ ! -s "$work/7z.txt" ] || ! diff -u "$work/7z.txt" "$work/mediatool.txt"; then
    echo "mediatool and 7z differ on $(basename "$image")" >&2
    status=1
  else
    echo "$(basename "$image"): $(wc -l <"$work/7z.txt") entries agree"
  fi
done
# cat gives back the bytes that were put in.
"$mediatool" cat "$work/joliet.iso" random.bin | cmp - "$src/random.bin" || status=1
"$mediatool" cat "$work/joliet.iso" "Mixed Case/Ελληνικά.txt" | cmp - "$src/Mixed Case/Ελληνικά.txt" || status=1
"$mediatool" cat "$work/level1.iso" A/TWO.DAT | cmp - "$src/a/two.dat" || status=1
for image in "$work"/*.iso; do
  "$mediatool" verify "$image" 2>/dev/null || { echo "verify fails on $(basename "$image")" >&2; status=1; }
done
"$mediatool" info "$work/joliet.iso" | grep -q 'volume02 .*(root)' || { echo "info: volume02 is not the root" >&2; status=1; }

# Errors: one line on standard error and a non-zero exit, never a crash.
head -c 50000 /dev/urandom >"$work/noise.bin"
expect_error() {
  local code=0
  "$mediatool" "$@" >"$work/out.txt" 2>"$work/err.txt" || code=$?
  if [ "$code" -eq 0 ] || [ "$code" -gt 2 ] || [ "$(wc -l <"$work/err.txt")" -ne 1 ]; then
    echo "mediatool $*: exit $code, stderr:" >&2
    cat "$work/err.txt" >&2
    status=1
  fi
}
expect_error ls "$work/missing.iso"
expect_error info "$work/noise.bin"
expect_error ls "$work/joliet.iso" no/such/path
expect_error cat "$work/joliet.iso" a
expect_error cat "$work/joliet.iso"
expect_error frobnicate "$work/joliet.iso"
exit $status
