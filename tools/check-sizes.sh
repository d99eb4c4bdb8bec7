#!/usr/bin/env bash
# Fails when a source file passes 400 lines, or a function passes 40 (from the first line of its
# signature to its closing brace). A function is
# what starts at the line's first column and opens a body; a table of data (`... = {`) is none.
# Usage: tools/check-sizes.sh [FILE...] (every file under src/ when none is given)
set -euo pipefail
cd "$(dirname "$0")/.."
max_file=400 max_function=40
if (($#)); then files=("$@"); else mapfile -t files < <(find src -name '*.h' -o -name '*.cc' | sort); fi
status=0
for file in "${files[@]}"; do
  lines=$(wc -l <"$file")
  if ((lines > max_file)); then
    echo "$file: $lines lines (at most $max_file)"
    status=1
  fi
  awk -v file="$file" -v most="$max_function" '
    function reset() { start = 0; head = "" }
    BEGIN { reset(); body = 0 }
    body {
      if ($0 ~ /^}$/) {
        n = NR - start + 1
        if (n > most) { printf "%s:%d: %s: %d lines (at most %d)\n", file, start, name, n, most; bad = 1 }
        body = 0; reset()
      }
      next
    }
    table { if ($0 ~ /^}\)?;/) table = 0; next }
    start == 0 && /^[A-Za-z_~\[]/ && !/^(namespace|template|using|extern|class|struct|enum|union|static_assert|typedef|friend)([^A-Za-z0-9_]|$)/ {
      start = NR; head = ""
    }
    start {
      head = head " " $0
      if ($0 ~ /;[[:space:]]*(\/\/.*)?$/ && $0 !~ /\{$/) { reset(); next }
      if ($0 ~ /\{$/) {
        if (head ~ /=[[:space:]]*\{$/ || head ~ /\(\{$/) { table = 1; reset(); next }
        name = head; sub(/\(.*/, "", name); sub(/.*[ *&]/, "", name)
        if ($0 ~ /\}[;]?$/ && $0 ~ /\{.*\}/) { reset(); next }
        body = 1
      }
    }
    END { exit bad }
  ' "$file" || status=1
done
[ "$status" = 0 ] && echo "sizes: no file over $max_file lines, no function over $max_function"
exit "$status"
