#!/usr/bin/env bash
# Fails when an #include points up or sideways between the source layers:
#   core/  <  edit/, doc/, settings/, term/, journal/ (independent of each other)  <  app/  <  main.cc
# A file may include its own folder and any folder below it, never one above or beside it.
set -euo pipefail
cd "$(dirname "$0")/../src"
rank() {
  case "$1" in
    core) echo 0 ;;
    edit | doc | settings | term | journal) echo 1 ;;
    app) echo 2 ;;
    *) echo 3 ;;
  esac
}
status=0
while IFS=: read -r file line text; do
  from="${file%%/*}"
  [ "$from" = "$file" ] && from=main
  to="$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")"
  if [ "$to" != "$from" ] && [ "$(rank "$to")" -ge "$(rank "$from")" ]; then
    echo "src/$file:$line: $from/ may not include $to/: $text"
    status=1
  fi
done < <(grep -rnE '^#include "[^/"]+/' --include='*.h' --include='*.cc' .  | sed 's#^\./##')
[ "$status" = 0 ] && echo "layers: every include points down"
exit "$status"
