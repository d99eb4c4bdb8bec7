#!/usr/bin/env bash
# Crash consistency of saves: kills the editor at many points of a save and checks, after every
# kill, that the target holds exactly its old or exactly its new content, or, where it was being
# written in place, that a backup holds its old content whole.
#
# Kills come two ways: strace kills the editor on entering each system call of the save path in
# turn (inject=NAME:signal=KILL:when=N, N found from a full trace of the same run), and plain
# kill -9 after a random delay. Each is done for four kinds of target:
#   plain      an ordinary file (replaced by a rename)
#   symlink    a symbolic link to a file in a sub-folder (the file it points to is replaced)
#   hardlink   a file with a second name (written in place, after a backup beside it)
#   readonly   a file in a folder the user cannot write (written in place, after a backup in
#              the state folder); run as an unprivileged user when run as root
# and two edits: one that grows the file by a line and one that shrinks it, so that a torn
# write shows as a mix and a missed truncation as a tail of old bytes.
#
# Then, at each of the same system calls, a signal that the editor handles (SIGTERM or SIGHUP):
# the save must finish first, the editor then end with 128 + the signal, and nothing be left
# behind.
#
# Before those, two shorter checks: the first write, flush, link and rename of a save each
# interrupted once (EINTR) must still save, and the traces of a save by rename and of one in
# place show each flush before the step that relies on it;
# and, run as root, a race: another user plants and removes a link under the name root saves
# to in a shared sticky folder, 300 saves long, and nothing may reach that user.
#
# Usage: tests/crash_test.sh MORVAX [RANDOM_KILLS_PER_KIND]   (default 80)
# CRASH_KINDS chooses the kinds of target (default: all four; empty: none).
# Needs strace (and setpriv from util-linux when run as root). Exits 1 on any loss, on a signal
# not settled after the save, or when a kind got fewer than 100 kills.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 MORVAX [RANDOM_KILLS_PER_KIND]" >&2
  exit 2
fi
command -v strace >/dev/null || { echo "crash: strace is not installed" >&2; exit 2; }
random_kills=${2:-80}

# Everything runs from a fresh world-readable folder, so that an unprivileged user can run it.
top=$(mktemp -d)
trap 'chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"' EXIT
chmod 755 "$top"
cp "$1" "$top/morvax"
chmod 755 "$top/morvax"
as_user=()
if [[ $(id -u) == 0 ]]; then
  command -v setpriv >/dev/null || { echo "crash: setpriv is not installed" >&2; exit 2; }
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

# The old content: 30,000 numbered lines of varied length (about 4.5 MB), so that old and new
# bytes differ almost everywhere once a line is added or removed at the top.
awk 'BEGIN { srand(7); for (i = 1; i <= 30000; i++) {
  n = 100 + int(rand() * 100); s = sprintf("line %06d ", i);
  while (length(s) < n) s = s sprintf("%x", int(rand() * 16)); print s } }' >"$top/old"

# --- one kind of target --------------------------------------------------------------------

work=$top/work
# Makes a fresh target of kind $1 in $work. Sets: name (what the editor opens and saves),
# real (the file whose content counts), run (the command prefix), backups (folders to search).
setup() {
  chmod -R u+rwX "$work" 2>/dev/null || true
  rm -rf "$work"
  mkdir -m 755 "$work"
  run=()
  backups=("$work")
  case $1 in
    plain)
      cp "$top/old" "$work/f"
      name=f real=$work/f ;;
    symlink)
      mkdir "$work/real"
      cp "$top/old" "$work/real/f"
      ln -s real/f "$work/link"
      name=link real=$work/real/f
      backups+=("$work/real") ;;
    hardlink)
      cp "$top/old" "$work/f"
      ln "$work/f" "$work/g"
      name=f real=$work/f ;;
    readonly)
      mkdir "$work/ro" "$work/state"
      cp "$top/old" "$work/ro/f"
      if [[ ${#as_user[@]} -gt 0 ]]; then
        chown -R 65534:65534 "$work"
        run=("${as_user[@]}")
      fi
      chmod 555 "$work/ro"
      name=ro/f real=$work/ro/f
      backups+=("$work/ro" "$work/state/morvax/backup") ;;
  esac
  printf '' >"$work/.morvax_rc"
  [[ ${#as_user[@]} -eq 0 || $1 != readonly ]] || chown 65534:65534 "$work/.morvax_rc"
}

# Runs the editor on the target with the keys in $top/keys, under the command prefix in $@.
editor() {
  (cd "$work" && exec env XDG_STATE_HOME="$work/state" "$@" "${run[@]}" "$top/morvax" "$name" \
    <"$top/keys" >/dev/null 2>&1)
}

# Judges the state after a kill: sets verdict to old, new, backup (the old content kept whole
# in a backup while the target holds neither) or LOSS; counts what is left beside it in
# found_temps (temporary files), found_whole and found_partial (backups).
judge() {
  local got
  found_temps=0 found_whole=0 found_partial=0 found_orphans=0
  if [[ $kind == symlink && ! -L $work/link ]]; then
    verdict=LOSS
    return
  fi
  if cmp -s "$real" "$top/old"; then
    got=old
  elif cmp -s "$real" "$new"; then
    got=new
  else
    got=LOSS
  fi
  if [[ $kind == hardlink ]] && ! [[ $work/f -ef $work/g ]]; then got=LOSS; fi
  local folder file
  for folder in "${backups[@]}"; do
    for file in "$folder"/.*.morvax-save-*; do
      [[ -e $file ]] && found_temps=$((found_temps + 1))
    done
    for file in "$folder"/*.morvax-backup-*; do
      [[ -e $file && $file != *.path ]] || continue
      # A backup in the state folder says whose it is from the moment it has its name.
      if [[ $folder == */state/morvax/backup ]] &&
        [[ $(cat "$file.path" 2>/dev/null) != "$(realpath "$real")" ]]; then
        found_orphans=$((found_orphans + 1))
      fi
      if cmp -s "$file" "$top/old"; then
        found_whole=$((found_whole + 1))
        [[ $got == LOSS ]] && got=backup
      else
        found_partial=$((found_partial + 1))
      fi
    done
  done
  verdict=$got
}

# The system calls of the save, as "NAME N" (the Nth call of NAME in the whole run): those
# between the read that brings the keys and the read that finds the end of the input, but
# the editor's own output.
save_calls() {
  awk '/^(\+\+\+|---)/ { next }
       { name = $0; sub(/\(.*/, "", name); count[name]++ }
       phase == 0 && /^read\(0,/ { phase = 1; next }
       phase == 1 && /^read\(0,/ { exit }
       phase == 1 && !/^write\(1,/ { print name, count[name] }' "$1"
}

# Microseconds since some fixed moment into $clock, without starting a process.
tick() {
  clock=${EPOCHREALTIME/[.,]/}
  clock=$((10#$clock))
}

# A pause of $1 microseconds without starting a process: a read that times out on a pipe
# nobody writes.
exec {pause}<> <(:)
pause() {
  local seconds
  printf -v seconds '%d.%06d' $(($1 / 1000000)) $(($1 % 1000000))
  read -r -t "$seconds" -u "$pause" || true
}

# Starts the editor with its input and output on pipes, types the edit $1, and returns once
# the editor has shown the edited view: what it does next is the save. Sets pid, to, from.
start_editing() {
  rm -f "$top/in" "$top/out"
  mkfifo -m 666 "$top/in" "$top/out"
  # $! must be the editor's own process: exec all the way.
  (cd "$work" && exec env XDG_STATE_HOME="$work/state" "${run[@]}" "$top/morvax" "$name" \
    <"$top/in" >"$top/out" 2>/dev/null) &
  pid=$!
  exec {to}>"$top/in" {from}<"$top/out"
  printf '%s\n' "$1" >&"$to"
  local views=0 line
  while ((views < 2)) && read -r -u "$from" line; do
    [[ $line != Editing* ]] || views=$((views + 1))
  done
}

# Types the save and ends the input.
save_now() {
  printf 'S\n' >&"$to"
  exec {to}>&-
}

# Waits for the editor to end; its status.
finish() {
  local status=0
  wait "$pid" 2>/dev/null || status=$?
  exec {from}<&-
  return "$status"
}

# The system call a killed run died in (the last one its trace shows).
died_in() {
  awk '/^(\+\+\+|---)/ { next } { name = $0; sub(/\(.*/, "", name); last = name }
       END { print last }' "$1"
}

failed=0
summary=()

# --- interrupted system calls, and the flush before the rename ------------------------------
# The first write, flush, link and rename of a save interrupted (EINTR) in turn: each is tried
# again, and the save is made. In the trace of a real save, the temporary file is flushed
# before it is renamed over the target.
printf 'w\nS\n' >"$top/keys"
kind=plain
setup plain
editor strace -s 256 -o "$top/trace"
new=$top/new
cp "$real" "$new"
interrupted=()
for call in write fsync linkat renameat renameat2; do
  n=$(save_calls "$top/trace" | awk -v call="$call" '$1 == call { print $2; exit }')
  [[ -n $n ]] || continue
  setup plain
  status=0
  editor strace -o /dev/null -e "inject=$call:error=EINTR:when=$n" || status=$?
  judge
  if [[ $status -ne 0 || $verdict != new || $found_temps -ne 0 ]]; then
    echo "crash: $call interrupted once: status $status, $verdict, $found_temps temporary" >&2
    failed=1
  fi
  interrupted+=("$call")
done
# Durability, from the traces of real saves (a kill cannot see a missing flush): by rename, the
# new file is flushed (the first flush of its descriptor after it was made) before it is
# renamed or exchanged, and its folder is flushed after; in place, the backup is flushed, named
# and its folder flushed before the first byte is written to the target.
read -r flushed renamed folder < <(awk '
  /^openat\(.*O_TMPFILE.*\) = [0-9]+$/ { fd = $NF; flushed = ""; next }
  fd != "" && flushed == "" && index($0, "fsync(" fd ")") == 1 { flushed = NR }
  /^renameat2?\(.*morvax-save-.*\) = 0$/ { renamed = NR }
  renamed != "" && /^openat\(.*"\.", O_RDONLY\|O_CLOEXEC\|O_DIRECTORY\) = [0-9]+$/ { dir = $NF }
  dir != "" && folder == "" && index($0, "fsync(" dir ")") == 1 { folder = NR }
  END { print (flushed == "" ? "none" : flushed), (renamed == "" ? "none" : renamed),
    (folder == "" ? "none" : folder) }' "$top/trace")
setup hardlink
editor strace -s 64 -o "$top/trace"
read -r backup named backup_folder written < <(awk '
  /^openat\(.*"f", O_RDWR.*\) = [0-9]+$/ { target = $NF }
  /^openat\(.*O_TMPFILE.*\) = [0-9]+$/ { fd = $NF }
  fd != "" && flushed == "" && index($0, "fsync(" fd ")") == 1 { flushed = NR }
  /^linkat\(.*morvax-backup-.*\) = 0$/ { named = NR }
  named != "" && /^openat\(.*"\.", O_RDONLY\|O_CLOEXEC\|O_DIRECTORY\) = [0-9]+$/ { dir = $NF }
  dir != "" && folder == "" && index($0, "fsync(" dir ")") == 1 { folder = NR }
  target != "" && written == "" && index($0, "pwrite64(" target ",") == 1 { written = NR }
  function seen(line) { return line == "" ? "none" : line }
  END { print seen(flushed), seen(named), seen(folder), seen(written) }' "$top/trace")
line="interrupted once and saved: ${interrupted[*]}"
order="$flushed $renamed $folder $backup $named $backup_folder $written"
if [[ ${#interrupted[@]} -lt 4 || $order == *none* ]] || ((flushed > renamed || renamed > folder ||
  backup > named || named > backup_folder || backup_folder > written)); then
  echo "crash: the trace lacks a call, or a flush comes late (by rename: new file flushed," \
    "renamed, folder flushed at lines $flushed $renamed $folder; in place: backup flushed," \
    "named, its folder flushed, target written at $backup $named $backup_folder $written)" >&2
  failed=1
else
  line+="; flushed in order: new file, rename, folder (lines $flushed, $renamed, $folder);"
  line+=" backup, its name, its folder, then the write in place (lines $backup, $named,"
  line+=" $backup_folder, $written)"
fi
echo "$line"
summary+=("$line")

# --- a link planted in a shared folder while root saves ------------------------------------
# Another user plants a link to a FIFO or a file of theirs under the name root saves to, in a
# sticky folder anyone may write (like /tmp), and removes it, over and over, while root saves
# 300 times. Every save writes the file it was asked to, or fails with a reason; nothing
# reaches the other user's FIFO or file.
# The system's python: one installed for root alone may be out of the other user's reach.
python=$(command -v /usr/bin/python3 || command -v python3 || true)
if [[ ${#as_user[@]} -gt 0 && -n $python ]]; then
  shared=$top/shared attacker=$top/attacker
  mkdir -m 1777 "$shared"
  mkdir -m 755 "$attacker" "$top/saver"
  chown 65534:65534 "$attacker"
  printf '' >"$top/saver/.morvax_rc"
  "${as_user[@]}" "$python" - "$attacker" "$shared/target" <<'PLANT' &
import os, sys, threading, time
home, target = sys.argv[1:]
fifo, mine = os.path.join(home, "fifo"), os.path.join(home, "file")
os.mkfifo(fifo, 0o666)
open(mine, "w").close()
os.chmod(mine, 0o666)
stop = os.path.join(home, "stop")
def read_fifo():
    # Keeps whatever reaches the FIFO.
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    with open(os.path.join(home, "captured"), "ab") as kept:
        while not os.path.exists(stop):
            try:
                data = os.read(fd, 65536)
            except BlockingIOError:
                data = b""
            if data:
                kept.write(data)
                kept.flush()
            else:
                time.sleep(0.0005)
threading.Thread(target=read_fifo, daemon=True).start()
planted = 0
deadline = time.monotonic() + 300
while not os.path.exists(stop) and time.monotonic() < deadline:
    try:
        os.symlink(fifo if planted % 2 else mine, target)
        planted += 1
        os.unlink(target)
    except OSError:
        pass
print(f"planted {planted} links", file=open(os.path.join(home, "planted"), "w"))
PLANT
  planter=$!
  saved=0 refused=0 bad=0
  declare -A reasons=()
  for ((i = 1; i <= 300; i++)); do
    rm -f "$shared/target"
    # A link planted before the name is given is asked about: the y goes on to the save.
    report=$(cd "$top/saver" && printf 'secret %d\nS\n%s\ny\n' "$i" "$shared/target" |
      "$top/morvax" 2>&1 | grep -a -E '^(Saved to|Could not save to) ' || true)
    if [[ $report == "Saved to $shared/target" ]]; then
      if [[ -L $shared/target || ! -f $shared/target || $(stat -c %u "$shared/target") != 0 ||
        $(cat "$shared/target") != "secret $i" ]]; then
        echo "crash: race: save $i reported saved, but $shared/target is not the file" >&2
        bad=$((bad + 1))
      fi
      saved=$((saved + 1))
    elif [[ $report =~ ^"Could not save to $shared/target: "(.+)$ ]]; then
      refused=$((refused + 1))
      reasons[${BASH_REMATCH[1]}]=$((${reasons[${BASH_REMATCH[1]}]:-0} + 1))
    else
      echo "crash: race: save $i: no report or no reason: '$report'" >&2
      bad=$((bad + 1))
    fi
  done
  touch "$attacker/stop"
  wait "$planter" || true
  if [[ ! -e $attacker/planted ]]; then
    echo "crash: race: the other user planted nothing" >&2
    bad=$((bad + 1))
  fi
  reached=$(cat "$attacker/file" "$attacker/captured" 2>/dev/null | wc -c)
  line="race: $saved saved, $refused refused ("
  for reason in "${!reasons[@]}"; do line+="$reason: ${reasons[$reason]}; "; done
  line="${line%; }) while another user $(cat "$attacker/planted" 2>/dev/null || echo "planted ? links");"
  line+=" $reached bytes reached that user"
  echo "$line"
  summary+=("$line")
  if [[ $bad -ne 0 || $reached -ne 0 ]]; then failed=1; fi
else
  echo "race: skipped (needs root, setpriv and python3)"
fi

for kind in ${CRASH_KINDS-plain symlink hardlink readonly}; do
  kills=0 injected=0 at_random=0 finished=0 misplaced=0 signalled=0 unsettled=0
  left_temps=0 left_whole=0 left_partial=0 left_orphans=0
  declare -A seen=([old]=0 [new]=0 [backup]=0 [LOSS]=0)
  for keys in 'w\nS\n' 'D\nS\n'; do
    # The new content, and the trace of an undisturbed save.
    printf '%b' "$keys" >"$top/keys"
    setup "$kind"
    new=$top/new
    editor strace -o "$top/trace"
    cp "$real" "$new"
    if cmp -s "$new" "$top/old"; then
      echo "crash: $kind: the undisturbed save changed nothing" >&2
      exit 1
    fi
    # How long the save takes, from its key to the end of the run: the middle of three.
    times=()
    for i in 1 2 3; do
      setup "$kind"
      start_editing "${keys%%\\n*}"
      tick
      start=$clock
      save_now
      finish
      tick
      times+=($((clock - start)))
    done
    span=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)

    while read -r call n; do
      setup "$kind"
      status=0
      { editor strace -o "$top/killed" -e "inject=$call:signal=KILL:when=$n"; } 2>/dev/null ||
        status=$?
      if [[ $status -ne 137 ]]; then
        echo "crash: $kind: no kill at $call #$n (status $status)" >&2
        misplaced=$((misplaced + 1))
        continue
      fi
      [[ $(died_in "$top/killed") == "$call" ]] || misplaced=$((misplaced + 1))
      kills=$((kills + 1)) injected=$((injected + 1))
      judge
      left_temps=$((left_temps + found_temps)) left_whole=$((left_whole + found_whole))
      left_partial=$((left_partial + found_partial)) left_orphans=$((left_orphans + found_orphans))
      seen[$verdict]=$((seen[$verdict] + 1))
      [[ $verdict != LOSS ]] || echo "crash: $kind: LOSS after a kill at $call #$n" >&2
    done < <(save_calls "$top/trace")

    # A signal the editor handles (termination, hangup) arriving at each system call of the
    # save: the save finishes first, then the editor ends with 128 + the signal, and nothing
    # is left behind (the document was saved, so there is no recovery file either).
    sig=TERM
    while read -r call n; do
      setup "$kind"
      status=0
      editor strace -o /dev/null -e "inject=$call:signal=$sig:when=$n" || status=$?
      judge
      signalled=$((signalled + 1))
      expected=143
      [[ $sig == TERM ]] || expected=129
      if [[ $status -ne $expected || $verdict != new || $found_temps -ne 0 ||
        $((found_whole + found_partial)) -ne 0 || -e $work/morvax.hup ]]; then
        unsettled=$((unsettled + 1))
        echo "crash: $kind: SIG$sig at $call #$n: status $status, $verdict," \
          "$found_temps temporary, $((found_whole + found_partial)) backups" >&2
      fi
      if [[ $sig == TERM ]]; then sig=HUP; else sig=TERM; fi
    done < <(save_calls "$top/trace")

    # Until half the random kills have hit this save (a kill that comes after the save has
    # ended kills nothing and is not counted).
    hits=0
    for ((i = 0; hits < random_kills / 2 && i < 3 * random_kills; i++)); do
      setup "$kind"
      delay=$(((RANDOM * 32768 + RANDOM) % span))
      start_editing "${keys%%\\n*}"
      save_now
      pause "$delay"
      kill -KILL "$pid" 2>/dev/null || true
      status=0
      finish || status=$?
      judge
      left_temps=$((left_temps + found_temps)) left_whole=$((left_whole + found_whole))
      left_partial=$((left_partial + found_partial)) left_orphans=$((left_orphans + found_orphans))
      if [[ $status -eq 137 ]]; then
        kills=$((kills + 1)) at_random=$((at_random + 1)) hits=$((hits + 1))
        seen[$verdict]=$((seen[$verdict] + 1))
      else
        # The save ended before the kill: it must have written the new content.
        finished=$((finished + 1))
        [[ $verdict == new ]] || verdict=LOSS
        [[ $verdict == new ]] || seen[LOSS]=$((seen[LOSS] + 1))
      fi
      [[ $verdict != LOSS ]] ||
        echo "crash: $kind: LOSS after a kill ${delay} µs into the save (status $status)" >&2
    done
  done
  line=$(printf '%-8s kills %3d (%3d at system calls, %3d at random; %3d saves ended first; a save takes %d µs)' \
    "$kind" "$kills" "$injected" "$at_random" "$finished" "$span")
  line+=$(printf ' | old %3d new %3d in backup %d LOSS %d | left: %d temporary, %d whole + %d partial backups' \
    "${seen[old]}" "${seen[new]}" "${seen[backup]}" "${seen[LOSS]}" "$left_temps" "$left_whole" \
    "$left_partial")
  [[ $misplaced -eq 0 ]] || line+=" | $misplaced kills missed their system call"
  [[ $left_orphans -eq 0 ]] || line+=" | $left_orphans state-folder backups without their companion"
  line+=" | $signalled handled signals, $unsettled not settled after the save"
  echo "$line"
  summary+=("$line")
  if [[ ${seen[LOSS]} -ne 0 || $kills -lt 100 || $misplaced -ne 0 || $unsettled -ne 0 ||
    $left_orphans -ne 0 ]]; then
    failed=1
  fi
  unset seen
done
if [[ $failed -ne 0 ]]; then
  echo "crash: FAIL"
  exit 1
fi
echo "crash: PASS"
