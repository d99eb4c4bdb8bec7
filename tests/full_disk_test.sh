#!/usr/bin/env bash
# Saves onto small file systems mounted under a temporary folder, filled up: the editor must
# report the full disk and leave the old content whole, with nothing left behind.
#   1. no inodes left: an ordinary file cannot get its temporary file, so the save fails
#      (it is not written in place);
#   2. no room for the new content of a hard-linked file (tmpfs, which reserves space): the
#      backup goes to the state folder, the reservation fails, nothing is written;
#   3. the same on ext2, which cannot reserve space: the write fails part way, and the old
#      content is written back.
# Usage: tests/full_disk_test.sh MORVAX       Needs root (to mount); skips (77) otherwise.
set -uo pipefail
morvax=$1
if [[ $(id -u) != 0 ]]; then
  echo "SKIP: mounting needs root"
  exit 77
fi
top=$(mktemp -d)
mnt=$top/mnt
mkdir "$mnt"
cleanup() {
  umount "$mnt" 2>/dev/null
  rm -rf "$top"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=64k,nr_inodes=6 tmpfs "$mnt" 2>/dev/null; then
  echo "SKIP: cannot mount a tmpfs here"
  exit 77
fi
umount "$mnt"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# $1 KiB of numbered lines of 100 bytes (well within the default grid).
lines_of() {
  awk -v kib="$1" 'BEGIN { for (i = 1; n < kib * 1024; i++) {
    s = sprintf("%06d %092d\n", i, i); printf "%s", s; n += length(s) } }'
}

# Runs the editor from $top on document $1, saving it as $2 (an existing file, so "o"); prints
# the report line.
save_as() {
  (cd "$top" && printf 's\n%s\no\n' "$2" |
    XDG_STATE_HOME=$top/state "$morvax" "$1" 2>&1 | grep -a 'Saved to\|Could not save')
}

# Checks the report ($1), that $2 holds $3's bytes, and that $mnt holds exactly the names $4.
check() {
  local report=$1 file=$2 expected=$3 names=$4
  [[ $report == "$5" ]] || fail "$6: report '$report'"
  cmp -s "$file" "$expected" || fail "$6: $file lost its old content"
  local now
  now=$(cd "$mnt" && ls -A | grep -v '^lost+found$' | tr '\n' ' ')
  [[ $now == "$names" ]] || fail "$6: left in the folder: $now"
  if [[ -d $top/state/morvax/backup && -n $(ls -A "$top/state/morvax/backup") ]]; then
    fail "$6: left in the state folder: $(ls -A "$top/state/morvax/backup")"
  fi
}

lines_of 2 >"$top/small"
lines_of 600 >"$top/big"

# 1. No inodes: the temporary file cannot be made.
mount -t tmpfs -o size=1m,nr_inodes=4 tmpfs "$mnt"
cp "$top/small" "$mnt/f"
cp "$top/small" "$top/old"
for i in 1 2 3 4; do { : >"$mnt/filler$i"; } 2>/dev/null || break; done
report=$(save_as big "$mnt/f")
check "$report" "$mnt/f" "$top/old" "f filler1 filler2 " \
  "Could not save to $mnt/f: No space left on device" "no inodes"
umount "$mnt"

# 2. A hard-linked file, no room for its new content (tmpfs reserves the space first).
mount -t tmpfs -o size=512k tmpfs "$mnt"
lines_of 200 >"$mnt/f"
ln "$mnt/f" "$mnt/g"
cp "$mnt/f" "$top/old"
head -c $((250 * 1024)) /dev/zero >"$mnt/filler"
report=$(save_as big "$mnt/f")
check "$report" "$mnt/g" "$top/old" "f filler g " \
  "Could not save to $mnt/f: No space left on device" "tmpfs full"
umount "$mnt"

# 3. The same on ext2, which writes until the disk is full and must write the old bytes back.
if command -v mkfs.ext2 >/dev/null; then
  head -c $((1024 * 1024)) /dev/zero >"$top/ext2.img"
  mkfs.ext2 -q -F "$top/ext2.img" >/dev/null 2>&1
  if mount -o loop "$top/ext2.img" "$mnt" 2>/dev/null; then
    lines_of 200 >"$mnt/f"
    ln "$mnt/f" "$mnt/g"
    cp "$mnt/f" "$top/old"
    # Leave less room than the new content needs beyond the old.
    avail=$(df -k --output=avail "$mnt" | tail -n 1)
    head -c $(((avail - 200) * 1024)) /dev/zero >"$mnt/filler" 2>/dev/null
    report=$(save_as big "$mnt/f")
    check "$report" "$mnt/g" "$top/old" "f filler g " \
      "Could not save to $mnt/f: No space left on device" "ext2 full"
    umount "$mnt"
  else
    echo "note: no loop device: the ext2 case is left out"
  fi
fi

[[ $failed == 0 ]] && echo PASS
exit "$failed"
