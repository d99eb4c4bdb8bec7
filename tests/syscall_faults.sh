#!/usr/bin/env bash
# Every system call fails in turn: for each scenario below, a clean run is traced (strace -k) to
# list the system calls the editor makes once its main function has started (the dynamic
# loader's and the C library's start-up are left out), and the scenario is then run once for
# each call and each error that fits it, with strace failing that one call
# (inject=CALL:error=ERR:when=N, N counted per call name over the whole run). Of a row of calls
# of one name made from one place (a loop), the first and the last are failed.
#
#   rename    a save replacing a plain file by a rename (as root: the file belongs to another
#             user and has an extended attribute, so that the calls that carry the owner and
#             the attributes over are made too)
#   inplace   a save of a file with a second hard link, written in place behind a backup (as
#             an unprivileged user when run as root)
#   recovery  unsaved text when SIGHUP or SIGTERM arrives (strace sends it at the read that
#             finds the end of the input): the recovery file (as the unprivileged user too)
#
# After each run: the program neither crashed nor hung; the target holds exactly its old or
# its new text; "Saved to" was printed only when it holds the new text, and when it does (but
# where standard output itself failed); a failed save was said with its reason and ended the
# program with status 1; a save that was never made was left for a recovery file, named or said
# to have failed, with a status that is not 0; every file left in the target's folder, in the
# state folder or in $HOME was named in the output; a recovery file that was named holds the
# whole text. An interrupted call (EINTR) changes nothing: the clean run's output, byte for
# byte, its status and its outcome.
#
# Usage: tests/syscall_faults.sh MORVAX
# FAULT_SCENARIOS chooses the scenarios (default: all three); FAULT_JOBS the runs at a time
# (default 2); FAULT_LOG names a file to keep every run's line in. Needs strace with stack
# traces (-k), and setpriv when run as root. Prints a line for each run that failed or is a
# known fault, then the count of runs; exits 1 when a run failed that is not a known fault.
set -euo pipefail

if [[ ${1-} == --run ]]; then
  worker=1
  shift
else
  worker=0
fi

# --- faults known and not yet mended ------------------------------------------------------------

# "SCENARIO CALL ERROR PLACE" (bash patterns; PLACE as the run's line shows it) of runs that
# fail today, each with why. Such a run is shown as KNOWN and does not fail the script; one that
# passes again is shown as MENDED, and its row should go.
known_faults=(
)

# --- the errors that fit each call ------------------------------------------------------------

# The errors to inject into CALL, or nothing for a call that cannot fail or ends the process.
errors_for() {
  case $1 in
    exit | exit_group | rt_sigreturn | restart_syscall | execve | \
      getpid | gettid | getppid | getuid | geteuid | getgid | getegid | umask | sched_yield)
      ;;
    # These fail only when they are called wrongly (EINVAL, EFAULT).
    rt_sigaction | rt_sigprocmask | sigaltstack | set_robust_list | set_tid_address | rseq) ;;
    # The kernel's brk never fails with an error (it returns the break unchanged), and an
    # injected one breaks the C library's own record of the break.
    brk) ;;
    # Memory: never interrupted, but may be refused.
    mmap | munmap | mremap | mprotect | madvise) echo ENOMEM ;;
    write | pwrite64 | writev | pwritev | pwritev2 | copy_file_range | sendfile)
      echo ENOSPC EDQUOT EIO EINTR ;;
    fallocate) echo ENOSPC EDQUOT EIO EINTR ;;
    fsync | fdatasync | syncfs | sync_file_range) echo EIO EINTR ;;
    read | pread64 | readv | preadv | preadv2 | getdents64) echo EIO EINTR ;;
    open | openat | openat2 | creat) echo EACCES EMFILE EINTR ;;
    rename | renameat | renameat2 | link | linkat | symlink | symlinkat) echo EROFS EXDEV EINTR ;;
    unlink | unlinkat | rmdir | mkdir | mkdirat) echo EROFS EACCES EINTR ;;
    chown | fchown | lchown | fchownat | chmod | fchmod | fchmodat | fchmodat2 | utimensat | \
      futimesat) echo EPERM EINTR ;;
    *xattr) echo EPERM EOPNOTSUPP EINTR ;;
    ftruncate | truncate) echo EIO EPERM EINTR ;;
    close) echo EIO EINTR ;;
    newfstatat | fstat | stat | lstat | statx | access | faccessat | faccessat2 | readlink | \
      readlinkat) echo EACCES EINTR ;;
    getcwd) echo ENOENT EINTR ;;
    getrandom) echo EAGAIN EINTR ;;
    lseek) echo EINVAL EINTR ;;
    *) echo EINTR ;;
  esac
}

# --- one scenario's target ----------------------------------------------------------------------

# The old text: 2,000 numbered lines, so that old and new differ from the first line on.
old_text() {
  awk 'BEGIN { for (i = 1; i <= 2000; i++) printf "line %04d of the old text\n", i }'
}

# Makes a fresh world for scenario $1 in folder $2: the target f (and its second name g for
# inplace), an empty settings file, a home folder and a state folder, the keys, and the
# command prefix in `as` (who runs the editor). Everything belongs to whoever runs it.
setup() {
  local scenario=$1 work=$2
  chmod -R u+rwX "$work" 2>/dev/null || true
  rm -rf "$work"
  mkdir -p "$work"
  chmod 755 "$work"
  mkdir -m 755 "$work/dir" "$work/home" "$work/state"
  old_text >"$work/dir/f"
  printf '' >"$work/dir/.morvax_rc"
  case $scenario in
    rename) printf 'w\nS\n' >"$work/keys" ;;
    inplace)
      ln "$work/dir/f" "$work/dir/g"
      printf 'D\nS\n' >"$work/keys" ;;
    recovery) printf 'w\n' >"$work/keys" ;;
  esac
  as=()
  if [[ $(id -u) == 0 ]]; then
    if [[ $scenario == rename ]]; then
      # Root saves another user's file: the new file must be given its owner.
      chown 65534:65534 "$work/dir/f"
      "$python" -c 'import os, sys; os.setxattr(sys.argv[1], "user.kept", b"yes")' \
        "$work/dir/f" 2>/dev/null && : >"$work/kept" || true
    else
      chown -R 65534:65534 "$work"
      as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    fi
  fi
}

# Runs the editor in world $1 under strace with the options in the rest of the arguments;
# its output (both streams) goes to $1/out, strace's to $1/trace. Sets `status`.
editor() {
  local work=$1
  shift
  status=0
  (cd "$work/dir" && exec env -u MORVAX_RC HOME="$work/home" XDG_STATE_HOME="$work/state" \
    timeout -k 5 30 "${as[@]}" strace -f -o "$work/trace" "$@" "$top/morvax" f \
    <"$work/keys" >"$work/out" 2>&1) || status=$?
}

# --- the calls of a clean run -------------------------------------------------------------------

# From a trace made with -k: every call from the first one made inside main on, as
# "NAME N FIRST-ARGUMENT PLACE" (the Nth call of NAME in the whole trace, made in the editor's
# function PLACE, the innermost on the stack that is not a helper). Of a row of calls of one
# name made from one place (the same stack: a loop), only the first and the last are listed.
# Lines of unfinished calls do not occur: the editor is one process and one thread.
calls_after_main() {
  awk '
    function finish() { if (n > 0 && place[n] == "") place[n] = "-" }
    /^[0-9]+ +(\+\+\+|---)/ { next }
    /^[0-9]+ +[a-z_0-9]+\(/ {
      finish()
      line = $0; sub(/^[0-9]+ +/, "", line)
      name = line; sub(/\(.*/, "", name)
      first = line; sub(/^[^(]*\(/, "", first); sub(/[,)].*/, "", first); gsub(/ /, "_", first)
      if (first == "") first = "-"
      count[name]++
      if (started) { n++; row[n] = name " " count[name] " " first; key[n] = name }
      else current = name " " count[name] " " first
      next
    }
    / > / {
      if (!started && /\/morvax\(main\+/) {
        started = 1; n = 1; row[n] = current; key[n] = current; sub(/ .*/, "", key[n])
      }
      if (!started) next
      key[n] = key[n] "|" $0
      if (place[n] == "" && /\/morvax\(/) {
        f = $0; sub(/.*\/morvax\(/, "", f); sub(/\+0x[0-9a-f]+\) \[.*/, "", f)
        gsub(/\(anonymous namespace\)::/, "", f); sub(/\(.*/, "", f); sub(/^[a-z]+ /, "", f)
        sub(/\[abi:[a-z0-9]+\]/, "", f); sub(/^[A-Z][A-Za-z]* /, "", f); sub(/::\{lambda$/, "", f)
        if (f != "" && f !~ /RetryOnEintr|Sys<|^std::|^__gnu|^Fd::|^void std/) place[n] = f
      }
    }
    END {
      finish()
      for (i = 1; i <= n; i++)
        if (key[i] != key[i - 1] || key[i] != key[i + 1]) print row[i], place[i]
    }
  ' "$1"
}

# --- the judge ---------------------------------------------------------------------------------

# True when the output ($out) has a line that matches the extended regular expression $1, at
# its start or after a prompt.
said() {
  grep -aqE "(^|> )$1" "$out"
}

# Judges the run in world $1 (scenario $2, call $3 #$4 failed with $5; `first`, `early` and
# `expected`, the clean run's status, from one_run); the clean run's outcome is in $top/$2.*. Prints PASS
# or FAIL and the reasons.
judge() {
  local work=$1 scenario=$2 call=$3 n=$4 err=$5
  local reasons=() out=$work/out
  # A call the run never reached (a signal ended it first) leaves the clean run's outcome.
  local reached=1
  grep -Eq "^[0-9]+ +$call\\(.*\\(INJECTED\\)$" "$work/trace" || reached=0
  if [[ $status -eq 124 || $status -eq 137 ]]; then reasons+=("hung (timed out)"); fi
  if grep -q '^[0-9]* *+++ killed by' "$work/trace"; then
    reasons+=("crashed: $(grep -o 'killed by SIG[A-Z0-9]*' "$work/trace" | head -n 1)")
  fi
  local target=$work/dir/f content
  if cmp -s "$target" "$top/old"; then
    content=old
  elif cmp -s "$target" "$top/$scenario.new"; then
    content=new
  else
    content=other
    reasons+=("the target holds neither its old nor its new text")
  fi
  # An attribute the target had is still there whenever it holds the new text.
  if [[ $content == new && -e $work/kept ]] && ! "$python" -c \
    'import os, sys; os.getxattr(sys.argv[1], "user.kept")' "$target" 2>/dev/null; then
    reasons+=("the new text lost the target's attribute")
  fi
  if [[ $scenario == inplace ]] && ! [[ $work/dir/f -ef $work/dir/g ]]; then
    reasons+=("the target lost its second name")
  fi
  local saved=0 failed_save=0 rescued=0 rescue_failed=0
  said 'Saved to f$' && saved=1
  said 'Could not save to f: .' && failed_save=1
  said 'Unsaved document written to ' && rescued=1
  said 'The unsaved document could not be written to .* \(.*\) nor to .* \(.*\)$' &&
    rescue_failed=1
  if ((saved)) && [[ $content != new ]]; then reasons+=("\"Saved to\" without the new text"); fi
  if ((failed_save)) && [[ $status -ne 1 ]]; then
    reasons+=("a failed save, then exit status $status")
  fi
  if ((failed_save)) && said 'Could not save to f: *$'; then
    reasons+=("a failed save without its reason")
  fi
  # The output's own failure may swallow the line.
  local output_failed=0
  [[ $call != write* || $first != 1 ]] || output_failed=1
  if [[ $content == new && $saved -eq 0 && $output_failed -eq 0 ]]; then
    reasons+=("the new text was written, but \"Saved to\" was not printed")
  fi
  # A recovery file that was named holds the whole text.
  local named
  while IFS= read -r named; do
    [[ $named == /* ]] || named=$work/dir/$named
    if ! cmp -s "$named" "$top/$scenario.new" &&
      ! { ((early)) && cmp -s "$named" "$top/$scenario.blank"; }; then
      reasons+=("the recovery file ${named#"$work/"} does not hold the whole text")
    fi
  done < <(sed -En 's/^(.*> )?Unsaved document written to //p' "$out")
  if ((rescued && rescue_failed)); then reasons+=("the recovery file both written and not"); fi
  # Every file left behind was named in the output.
  local file
  while IFS= read -r file; do
    case $file in
      dir/f | dir/g | dir/.morvax_rc | state | state/morvax | state/morvax/backup) continue ;;
    esac
    if ! grep -aqF "$(basename "$file")" "$out"; then reasons+=("$file left, never named"); fi
  done < <(cd "$work" && find dir home state -mindepth 1 | sort)

  case $scenario in
    rename | inplace)
      if ((!saved && !failed_save)) && [[ $content == old ]] && ((!early)); then
        # No save was made after the keys arrived: only when the session ended before it,
        # with the unsaved text in a recovery file or its failure said.
        if ((!rescued && !rescue_failed)) || [[ $status -eq 0 ]]; then
          reasons+=("no save, no recovery file, and exit status $status")
        fi
      fi ;;
    recovery)
      if ((saved || failed_save)); then reasons+=("a save was made"); fi
      if [[ $content != old ]]; then reasons+=("the target changed"); fi
      if ((!early && !rescued && !rescue_failed)); then
        reasons+=("no recovery file was named, nor its failure said")
      fi
      if ((rescue_failed)) && [[ $status -eq 0 ]]; then
        reasons+=("the recovery file failed, then exit status 0")
      fi ;;
  esac
  if [[ $err == EINTR ]]; then
    # An interrupted call changes nothing: the clean run's output, status and outcome.
    if ! cmp -s "$out" "$top/$scenario.out"; then
      local at
      at=$(cmp "$out" "$top/$scenario.out" 2>&1 | sed -n 's/.* line \([0-9]*\).*/ at line \1/p')
      reasons+=("interrupted, its output differs from the clean run's$at")
    fi
    if [[ $status -ne $expected ]]; then
      reasons+=("interrupted, it ended with status $status, not $expected")
    fi
    if [[ $scenario != recovery ]] && ((!saved)); then reasons+=("interrupted, it did not save"); fi
    if [[ $scenario == recovery ]] && ((!rescued)); then
      reasons+=("interrupted, it wrote no recovery file")
    fi
  fi
  local row="$scenario $call #$n in $place $err"
  if ((!reached)) && ! cmp -s "$out" "$top/$scenario.out"; then
    reasons+=("the call was never reached, yet the output differs from the clean run's")
  fi
  local known=0 fault
  for fault in "${known_faults[@]}"; do
    # shellcheck disable=SC2053  # a pattern
    [[ "$scenario $call $err $place" == ${fault%%|*} ]] && known=1
  done
  if ((${#reasons[@]})); then
    local why
    why=$(printf '%s; ' "${reasons[@]}")
    echo "$( ((known)) && echo KNOWN || echo FAIL) $row: ${why%; } (status $status)"
  elif ((known)); then
    echo "MENDED $row"
  else
    echo "PASS $row$( ((reached)) || echo ' (not reached)')"
  fi
}

# One run: scenario $1, call $2 #$3 (its first argument $4, made in $5) failed with $6; $7 is 1
# when that call comes before the keys have been read; the signal, for a recovery, at $8
# ("NAME N SIG"). Runs in its own world under $top/runs.
one_run() {
  local scenario=$1 call=$2 n=$3 first=$4 place=$5 err=$6 early=$7 carrier=${8-}
  local work
  work=$(mktemp -d "$top/runs/$scenario.XXXXXX")
  setup "$scenario" "$work"
  # strace injects only into the calls it traces.
  local traced=$call options=()
  if [[ -n $carrier ]]; then
    local what at sig
    read -r what at sig <<<"$carrier"
    traced+=",$what"
    options+=(-e "inject=$what:signal=$sig:when=$at")
  fi
  options+=(-e "trace=$traced" -e "inject=$call:error=$err:when=$n")
  editor "$work" "${options[@]}"
  expected=$(cat "$top/$scenario.status")
  case $carrier in
    *HUP) expected=129 ;;
    *TERM) expected=143 ;;
  esac
  judge "$work" "$scenario" "$call" "$n" "$err"
  chmod -R u+rwX "$work" 2>/dev/null || true
  rm -rf "$work"
}

if ((worker)); then
  # Called through xargs with tasks, one run each. A judge goes on through failed checks.
  set +e +o pipefail
  for task in "$@"; do
    read -r scenario call n first place err early carrier <<<"$task"
    one_run "$scenario" "$call" "$n" "$first" "$place" "$err" "$early" "$carrier"
  done
  exit 0
fi

# --- the runs ----------------------------------------------------------------------------------

if [[ $# -ne 1 ]]; then
  echo "usage: $0 MORVAX" >&2
  exit 2
fi
command -v strace >/dev/null || { echo "faults: strace is not installed" >&2; exit 2; }
if [[ $(id -u) == 0 ]]; then
  command -v setpriv >/dev/null || { echo "faults: setpriv is not installed" >&2; exit 2; }
fi
started=$SECONDS
top=$(mktemp -d)
trap 'chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"' EXIT
chmod 755 "$top"
mkdir -m 755 "$top/runs"
cp "$1" "$top/morvax"
chmod 755 "$top/morvax"
python=$(command -v /usr/bin/python3 || command -v python3 || echo false)
old_text >"$top/old"
export top python

tasks=$top/tasks
: >"$tasks"
for scenario in ${FAULT_SCENARIOS-rename inplace recovery}; do
  work=$top/clean-$scenario
  carriers=()
  if [[ $scenario == recovery ]]; then
    # Where the signal comes: the read that finds the end of the input, or (when reads are
    # the calls failed) the write of the view just before it.
    setup "$scenario" "$work"
    editor "$work"
    read -r eof_read view_write < <(awk '
      /^[0-9]+ +(\+\+\+|---)/ { next }
      /^[0-9]+ +[a-z_0-9]+\(/ {
        line = $0; sub(/^[0-9]+ +/, "", line); name = line; sub(/\(.*/, "", name); count[name]++
      }
      name == "write" && line ~ /^write\(1,/ { last_write = count[name] }
      name == "read" && line ~ /^read\(0, "", / { print count[name], last_write; exit }' \
      "$work/trace")
    [[ -n ${view_write-} ]] || { echo "faults: recovery: no end of input in the trace" >&2; exit 1; }
    carriers=("read $eof_read HUP" "write $view_write TERM")
  fi
  setup "$scenario" "$work"
  editor "$work" -k ${carriers[0]:+-e "inject=read:signal=HUP:when=$eof_read"}
  echo "$status" >"$top/$scenario.status"
  case $scenario in
    rename | inplace)
      cp "$work/dir/f" "$top/$scenario.new"
      if [[ $status -ne 0 ]] || ! out=$work/out said 'Saved to f$' ||
        cmp -s "$top/old" "$top/$scenario.new"; then
        echo "faults: $scenario: the clean run did not save (status $status)" >&2
        cat "$work/out" >&2
        exit 1
      fi ;;
    recovery)
      if [[ $status -ne 129 || ! -f $work/dir/morvax.hup ]]; then
        echo "faults: recovery: the clean run wrote no recovery file (status $status)" >&2
        cat "$work/out" >&2
        exit 1
      fi
      cp "$work/dir/morvax.hup" "$top/recovery.new" ;;
  esac
  cp "$work/out" "$top/$scenario.out"
  calls_after_main "$work/trace" >"$top/$scenario.calls"
  if [[ ! -s $top/$scenario.calls ]]; then
    echo "faults: $scenario: no call made inside main in the trace (strace -k)" >&2
    exit 1
  fi
  # The text a recovery file holds when the target could not be read: the keys' edit of an
  # empty document, saved.
  setup "$scenario" "$work"
  rm "$work/dir/f"
  printf 'S\n' >>"$work/keys"
  editor "$work"
  cp "$work/dir/f" "$top/$scenario.blank"
  # Calls up to the read that brings the keys come before the text is typed.
  early=1
  while read -r call n first place; do
    for err in $(errors_for "$call"); do
      carrier=
      if [[ $scenario == recovery ]]; then
        carrier=${carriers[0]}
        [[ $call != read ]] || carrier=${carriers[1]}
      fi
      echo "$scenario $call $n $first $place $err $early $carrier" >>"$tasks"
    done
    [[ $call != read || $first != 0 ]] || early=0
  done <"$top/$scenario.calls"
  echo "$scenario: $(wc -l <"$top/$scenario.calls") calls after main," \
    "$(grep -c "^$scenario " "$tasks") runs"
done

results=$top/results
xargs -P "${FAULT_JOBS:-2}" -L 20 -d '\n' bash "$0" --run <"$tasks" >"$results" || true

[[ -z ${FAULT_LOG-} ]] || cp "$results" "$FAULT_LOG"
runs=$(grep -c '^\(PASS\|FAIL\|KNOWN\|MENDED\) ' "$results" || true)
failures=$(grep -c '^FAIL ' "$results" || true)
known=$(grep -c '^KNOWN ' "$results" || true)
unreached=$(grep -c '(not reached)$' "$results" || true)
expected_runs=$(wc -l <"$tasks")
grep '^\(FAIL\|KNOWN\|MENDED\) ' "$results" | sort -k2,2 -s || true
echo "faults: $runs runs ($expected_runs planned; $unreached ended before their call), $failures" \
  "failed, $known known faults, in $((SECONDS - started)) s"
if [[ $runs -ne $expected_runs || $failures -ne 0 ]]; then
  echo "faults: FAIL"
  exit 1
fi
echo "faults: PASS"
