#!/usr/bin/env bash
# The Wine stage's prefix check refuses every COM mapping that leads elsewhere than a
# pseudo-terminal, not only those of the names a program uses, and starts nothing then; unmap
# takes every mapping out. On a throwaway prefix of files only: no Wine runs, no device is
# opened, and the plants lead to /dev/null and a plain file.
set -euo pipefail
prefix_script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-prefix"
work=$(mktemp -d /tmp/valtrex-prefix-check-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices"
ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
: > "$work/plain"
cat > "$WINEPREFIX/system.reg" << 'REG'
WINE REGISTRY Version 2
;; All keys relative to \\Machine

[Software\\Wine\\Ports] 1796849121
#time=1dd881e35439d96

[Software\\Wine\\Other] 1796849121
"COM5"="/dev/null"
REG
cp "$WINEPREFIX/system.reg" "$work/clean.reg"

refuses() {  # what was planted, a word its refusal must name
  local status=0
  "$prefix_script" run -- touch "$work/started" 2> "$work/err" || status=$?
  [ "$status" -ne 0 ] || fail "the check passed with $1"
  [ ! -e "$work/started" ] || fail "the command started with $1"
  grep -q -- "$2" "$work/err" || fail "the refusal with $1 does not name it: $(cat "$work/err")"
}

ln -s /dev/null "$WINEPREFIX/dosdevices/com7"
refuses "a com7 link to /dev/null" com7
rm "$WINEPREFIX/dosdevices/com7"

ln -s "$work/plain" "$WINEPREFIX/dosdevices/COM12"
refuses "an upper-case COM12 link to a file" COM12
rm "$WINEPREFIX/dosdevices/COM12"

sed -i "/^#time=1dd881e35439d96/a \"COM8\"=\"$work/plain\"" "$WINEPREFIX/system.reg"
refuses "a Ports value to a file" COM8

ln -s /dev/null "$WINEPREFIX/dosdevices/com7"
"$prefix_script" unmap
[ -z "$(find "$WINEPREFIX/dosdevices" -iname 'com*')" ] || fail "unmap left a com link"
[ -L "$WINEPREFIX/dosdevices/c:" ] || fail "unmap took a drive"
cmp -s "$WINEPREFIX/system.reg" "$work/clean.reg" || fail "unmap left: $(diff "$work/clean.reg" "$WINEPREFIX/system.reg")"
echo "prefix check: refused each plant and started nothing; unmap cleaned the prefix"
