#!/usr/bin/env bash
# Puts a report into bench/README.md between the markers <!-- NAME:begin --> and
# <!-- NAME:end -->, replacing what was there and keeping the rest of the file.
# Usage: bench/readme_section.sh NAME FILE
set -euo pipefail
name=$1
body=$2
readme=$(cd "$(dirname "$0")" && pwd)/README.md
begin="<!-- $name:begin -->"
end="<!-- $name:end -->"
section=$(mktemp)
trap 'rm -f "$section"' EXIT
{ echo "$begin"; cat "$body"; echo "$end"; } >"$section"

if [[ -f $readme ]] && grep -qF "$begin" "$readme"; then
  awk -v begin="$begin" -v end="$end" -v file="$section" '
    $0 == begin { while ((getline line < file) > 0) print line; skip = 1; next }
    $0 == end { skip = 0; next }
    !skip { print }' "$readme" >"$readme.new"
  mv "$readme.new" "$readme"
elif [[ -f $readme ]]; then
  { echo; cat "$section"; } >>"$readme"
else
  { echo "# Benchmarks"; echo; echo "Run by hand, never part of the tests."; echo; cat "$section"; } >"$readme"
fi
echo "wrote $readme"
