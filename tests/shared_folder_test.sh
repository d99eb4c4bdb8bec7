#!/usr/bin/env bash
# Two users, alice and mal, in one group, in a shared setgid folder (2775) on ext4: mal changes
# what alice's session read, between her load and her save, and the editor must tell her what
# happened and write nothing she did not confirm. On ext4 a file removed and another made at
# once get the same inode number, unless the first is still held open.
# Usage: tests/shared_folder_test.sh MORVAX      Needs root (users, a loop mount); skips (77)
# otherwise. ONLY=TEXT runs the rows whose name holds TEXT.
set -uo pipefail
morvax=$(readlink -f "$1")
if [[ $(id -u) != 0 ]]; then
  echo "SKIP: making users and mounting need root"
  exit 77
fi
alice=morvax-h37-alice
mal=morvax-h37-mal
team=morvax-h37-team
getent group "$team" >/dev/null || groupadd "$team" || exit 1
for user in "$alice" "$mal"; do
  id "$user" >/dev/null 2>&1 || useradd -U -M -G "$team" -s /bin/sh "$user" || exit 1
done
top=$(mktemp -d)
mnt=$top/mnt
mkdir "$mnt"
cleanup() {
  umount "$mnt" 2>/dev/null
  rm -rf "$top"
}
trap cleanup EXIT
truncate -s 8M "$top/ext4.img"
mkfs.ext4 -q -F "$top/ext4.img" >/dev/null 2>&1
ext4=1
if ! mount -o loop "$top/ext4.img" "$mnt" 2>/dev/null; then
  echo "note: no loop device: the rows run in a plain folder, the inode-number row is left out"
  ext4=0
fi
chmod 755 "$top" "$mnt"
cp "$morvax" "$top/morvax"
chmod 755 "$top/morvax"
failed=0
count=0

# Runs `$2` in the shared folder as user $1 (root: as it is).
as() {
  local user=$1
  shift
  if [[ $user == root ]]; then
    (cd "$mnt/shared" && sh -c "$1")
  else
    (cd "$mnt/shared" && setpriv --reuid="$user" --regid="$user" --init-groups \
      env HOME="$mnt/shared" sh -c "$1")
  fi
}

# One row: a name; the file alice's session loads; what root sets up before it (umask 022, the
# files then given to alice) and which of them are mal's;
# who changes things while her session runs, and how; what she types then; a text that the
# session must print (an empty one: none is asked of it); a text it must not print; and a check,
# run in the shared folder, that must hold afterwards.
row() {
  local name=$1 file=$2 setup=$3 theirs=$4 who=$5 attack=$6 input=$7 said=$8 unsaid=$9
  local check=${10}
  [[ -n ${ONLY:-} && $name != *"$ONLY"* ]] && return
  [[ $ext4 == 0 && $name == *"inode number"* ]] && return
  count=$((count + 1))
  rm -rf "$mnt/shared"
  mkdir "$mnt/shared"
  chgrp "$team" "$mnt/shared"
  chmod 2775 "$mnt/shared"
  as root "umask 022; $setup" || { echo "FAIL: $name: setup"; failed=1; return; }
  find "$mnt/shared" -exec chown -h "$alice" {} +
  for file in $theirs; do chown -h "$mal" "$mnt/shared/$file"; done
  rm -f "$top/in" "$top/out"
  mkfifo "$top/in"
  chmod 666 "$top/in"
  touch "$top/out"
  chmod 666 "$top/out"
  as "$alice" "umask 077; exec $top/morvax '$file' <$top/in >$top/out 2>&1" &
  local session=$!
  exec 3>"$top/in"
  for _ in $(seq 100); do
    grep -q Editing "$top/out" && break
    sleep 0.05
  done
  as "$who" "$attack"
  printf '%b' "$input" >&3
  exec 3>&-
  wait "$session"
  if [[ -n $said ]] && ! grep -qF -- "$said" "$top/out"; then
    echo "FAIL: $name: never said: $said"
    failed=1
  fi
  if [[ -n $unsaid ]] && grep -qF -- "$unsaid" "$top/out"; then
    echo "FAIL: $name: said: $unsaid"
    failed=1
  fi
  if ! (cd "$mnt/shared" 2>/dev/null || cd "$mnt"; sh -c "$check"); then
    echo "FAIL: $name: the check failed: $check"
    failed=1
  fi
  if ((failed)); then sed 's/^/    /' "$top/out" | grep -v '^    *[0-9]* *$' | tail -20; fi
}

here=$mnt/shared
mkdir "$top/drop"
chown "$mal" "$top/drop"
row "a new file of mal's at the same inode number" notes.txt "printf 'alice\n' >notes.txt" "" \
  "$mal" "ref=\$(mktemp); touch -r notes.txt \$ref; ls -i notes.txt >\$ref.ino; rm notes.txt;
          printf 'mal!!\n' >notes.txt; chmod 666 notes.txt; touch -r \$ref notes.txt;
          ls -i notes.txt | cmp -s - \$ref.ino && echo 'note: the inode number was reused';
          rm \$ref \$ref.ino" "mine\nS\nn\n" \
  "notes.txt was replaced by another file, owned by $mal, since it was read; overwrite it?" \
  "Saved to" "grep -qx 'mal!!' notes.txt"
row "a load through mal's link to alice's file" notes.txt \
  "mkdir old; printf 'alice\n' >old/notes.txt; ln -s old/notes.txt notes.txt" notes.txt \
  root true "" "Could not read notes.txt: it leads through a link that another user may have set" \
  "Opened" true
row "a folder made on the way by mal" newdir/x.txt "" "" "$mal" "mkdir -m 777 newdir" \
  "mine\nS\nn\n" \
  "A folder on the way to newdir/x.txt was made by $mal since this session found it missing" \
  "Saved to" "test ! -e newdir/x.txt"
row "mal's links announced as unsaved text" notes.txt \
  "ln -s /etc/shadow morvax.hup; ln -s /etc/shadow morvax.hup.1" "morvax.hup morvax.hup.1" \
  root true "" "" "Unsaved text" true
row "a new file of alice's own at the name (sed -i)" notes.txt "printf 'alice\n' >notes.txt" "" \
  "$alice" "sed -i s/alice/other/ notes.txt" "mine\nS\nn\n" \
  "notes.txt was replaced by another file since it was read; overwrite it? (y/n)" \
  "now leads to" "grep -qx other notes.txt"
row "the folder replaced by mal's" sub/notes.txt "mkdir sub; printf 'alice\n' >sub/notes.txt" "" \
  "$mal" "mv sub old; mkdir sub; printf 'mal\n' >sub/notes.txt" "mine\nS\nn\n" \
  "sub/notes.txt now lies in $here/sub, a folder of $mal's, not in the one the file was read" \
  "Saved to" "grep -qx mal sub/notes.txt"
row "a new owner" notes.txt "printf 'alice\n' >notes.txt" "" root "chown $mal notes.txt" \
  "mine\nS\nn\n" "notes.txt was given another owner or group ($mal:" "Saved to" \
  "grep -qx alice notes.txt"
row "a new mode alone, by the owner" notes.txt "printf 'alice\n' >notes.txt" "" "$alice" \
  "chmod 600 notes.txt" "mine\nS\n" "Saved to notes.txt" "overwrite it?" \
  "grep -q ^mine notes.txt"
row "the settings file in a folder the group may write" notes.txt \
  "printf 'page_length=3\n' >.morvax_rc" "" root true "" \
  "Ignoring RC file .morvax_rc: its folder is writable by others" "Reading RC file" true
row "a dangling link of mal's" plan.txt "ln -s $top/drop/plan.txt plan.txt" plan.txt root true \
  "mine\nS\nn\n" "plan.txt is a link to $top/drop/plan.txt" "Saved to" \
  "test ! -e $top/drop/plan.txt"
row "a save after the working folder was removed" x.txt "" "" root "rm -rf $here" "mine\nS\n" \
  "Could not save to x.txt: its folder was removed" "" true
echo "$count rows"
exit $failed
