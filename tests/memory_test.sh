#!/bin/sh
# The grid's memory, or a change's, refused: run the built editor under `ulimit -v`.
# Usage: memory_test.sh PATH-TO-MORVAX SANITIZED(0|1)
if [ "$2" = 1 ]; then
  echo "SKIP: sanitizer builds reserve more address space than any small ulimit allows"
  exit 77
fi
morvax="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
printf 'max_lines=1000000\nmax_char=1000\n' > .morvax_rc
fail=0

# A grid larger than the memory allowed falls back to the initial size and works.
out="$( (ulimit -v 300000; printf 'abc\nS\nsaved.txt\nq\nq\n' | "$morvax") )"
status=$?
expected="Buffer of 1000000 lines of 1000 characters is too large; using 32767 lines of 255 characters"
echo "$out" | grep -qxF "$expected" || { echo "FAIL: no fallback message"; fail=1; }
[ "$status" = 0 ] || { echo "FAIL: status $status with the fallback grid"; fail=1; }
[ "$(cat saved.txt 2>/dev/null)" = abc ] || { echo "FAIL: the fallback grid did not edit and save"; fail=1; }

# The grid fits but its line-sized work buffers do not: the same fallback, never an abort.
printf 'max_lines=1\nmax_char=1500000000\n' > .morvax_rc
out="$( (ulimit -v 2500000; printf 'abc\nq\nq\n' | "$morvax") 2>&1)"
status=$?
expected="Buffer of 1 lines of 1500000000 characters is too large; using 32767 lines of 255 characters"
echo "$out" | grep -qxF "$expected" || { echo "FAIL: no fallback for the work buffers: $out"; fail=1; }
[ "$status" = 0 ] || { echo "FAIL: status $status with the work buffers refused"; fail=1; }
printf 'max_lines=1000000\nmax_char=1000\n' > .morvax_rc

# Not even the initial grid can be had: a message and status 1, never a crash.
out="$( (ulimit -v 10000; printf 'q\nq\n' | "$morvax") 2>&1)"
status=$?
echo "$out" | grep -qxF "Not enough memory for a buffer of 32767 lines of 255 characters" ||
  { echo "FAIL: no message when memory is refused: $out"; fail=1; }
[ "$status" = 1 ] || { echo "FAIL: status $status when memory is refused"; fail=1; }
# The default grid refused: nothing smaller to fall back to.
printf '' > .morvax_rc
out="$( (ulimit -v 10000; printf 'q\nq\n' | "$morvax") 2>&1)"
[ $? = 1 ] && echo "$out" | grep -qxF "Not enough memory to go on" && ! echo "$out" | grep -q large ||
  { echo "FAIL: the default grid refused: $out"; fail=1; }

# Memory for the grid's lines, but not for a change: the change is refused, the document stays
# as it was and the session goes on. One line of 149,999,999 characters: its line-sized
# buffers take about 1.05 GB of address space at the start, and a change asks for 0.3 GB more.
printf 'max_lines=1\nmax_char=149999999\n' > .morvax_rc
rm -f saved.txt
out="$( (ulimit -v 1200000; printf 'abc\nS\nsaved.txt\nq\nq\n' | "$morvax") 2>&1)"
status=$?
echo "$out" | grep -qF "Not enough memory for this change" ||
  { echo "FAIL: a change without memory was not refused: $out"; fail=1; }
echo "$out" | grep -qF "too large" && { echo "FAIL: the grid itself was refused"; fail=1; }
[ "$status" = 0 ] || { echo "FAIL: status $status after a refused change"; fail=1; }
[ "$(cat saved.txt 2>/dev/null)" = "" ] && [ -f saved.txt ] ||
  { echo "FAIL: the refused change reached the document"; fail=1; }

# Memory run out by a load (the largest file that loads, found by halving): text typed over it
# is still rescued at SIGTERM, its bytes gathered in a room had at start-up.
printf 'max_lines=300000\n' > .morvax_rc
line=$(printf '%0250d' 0)
loads() {
  yes "$line" | head -c "$1" > f
  out="$( (ulimit -v 80000; printf 'q\nq\n' | "$morvax" f) 2>&1)"
  echo "$out" | grep -q "Lines Generated$" && ! echo "$out" | grep -q percent
}
low=0 high=$((80000 * 1024))
while [ $((high - low)) -gt 16384 ]; do
  mid=$(((low + high) / 2))
  if loads "$mid"; then low=$mid; else high=$mid; fi
done
yes "$line" | head -c "$low" > f
out="$( (printf 'yy\n'; sleep 6) | (ulimit -v 80000; timeout -s TERM 4 "$morvax" f) 2>&1)"
echo "$out" | grep -qxF "Unsaved document written to morvax.hup" ||
  { echo "FAIL: no recovery file once a load took the memory: $(echo "$out" | tail -n 1)"; fail=1; }
[ "$(head -c 4 morvax.hup 2>/dev/null)" = yy00 ] || { echo "FAIL: the recovery file"; fail=1; }

[ "$fail" = 0 ] && echo PASS
exit "$fail"
