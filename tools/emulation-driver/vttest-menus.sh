#!/bin/sh
# Runs vttest's VT100 menus through the terminal's emulation and writes each menu's screens as
# text, one file a menu, for comparing with what each of vttest's screens says should be seen.
#
#   tools/emulation-driver/vttest-menus.sh BUILD-DIR OUT-DIR [MENU]...
#
# MENU defaults to 1 2 3 4 6 7 8. vttest is started afresh for each menu; every Return is the
# Return key as the emulation sends it (\R), so new-line mode's CR LF is tested as typed.
set -eu
build=$1
out=$2
shift 2
driver=$build/tools/emulation-driver/valtrex-emulation-driver
[ -x "$driver" ] || { echo "no $driver: build valtrex-emulation-driver first" >&2; exit 1; }
command -v vttest >/dev/null || { echo "vttest is not installed" >&2; exit 1; }
mkdir -p "$out"
[ $# -gt 0 ] || set -- 1 2 3 4 6 7 8

# N Returns.
returns() {
  i=0
  while [ $i -lt "$1" ]; do
    printf '%s\n' --key '\R'
    i=$((i + 1))
  done
}

for menu in "$@"; do
  case $menu in
    1) keys="--key 1\\R $(returns 6)" ;;
    2) keys="--key 2\\R $(returns 15)" ;;
    3) keys="--key 3\\R $(returns 1)" ;;
    4) keys="--key 4\\R $(returns 6)" ;;
    # Menu 6 has its own menu: each report in turn, each ended by its Returns.
    6) keys="--key 6\\R --key 1\\R --key \\R --key \\R --key 2\\R --key \\R --key \\R --key \\R
             --key 3\\R --key \\R --key 4\\R --key \\R --key 5\\R --key \\R --key \\R
             --key 6\\R --key \\R --key \\R --key 7\\R --key \\R --key 0\\R" ;;
    7) keys="--key 7\\R $(returns 3)" ;;
    8) keys="--key 8\\R $(returns 14)" ;;
    *) echo "menu $menu is not one of the VT100's here" >&2; exit 2 ;;
  esac
  # shellcheck disable=SC2086  # the keys are words on purpose
  timeout 300 "$driver" --quiet-ms 600 $keys --key '0\R' -- vttest > "$out/menu$menu.txt"
  echo "menu $menu: $(grep -c '^===' "$out/menu$menu.txt") screens in $out/menu$menu.txt"
done
