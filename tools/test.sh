#!/usr/bin/env bash
# Builds and runs every test, from a fresh Debian machine on: first installs the packages the
# tests need and lack (through apt-get, as root or with sudo; with neither it names them and
# stops with status 1), then configures build-test with the tests on, builds and runs ctest.
# Every option given is passed on to the configure step (CI adds -DMORVAX_WERROR=ON).
# Usage: tools/test.sh [CMAKE-OPTION...]
set -euo pipefail
cd "$(dirname "$0")/.."

has_pexpect() {  # the terminal tests run under whichever python has it
  python3 -c 'import pexpect' || /usr/bin/python3 -c 'import pexpect'
}

# What the tests need: a Debian package, and the check that shows it is there.
missing=()
need() {  # PACKAGE CHECK...
  local package=$1
  shift
  "$@" >/dev/null 2>&1 || missing+=("$package")
}
# The programs the tests run, by the Debian package that brings them (most come with every
# Debian machine). The tests run with PATH reduced to these: a test that runs any other fails,
# and says which ("NAME: not found").
programs=()
need_programs() {  # PACKAGE PROGRAM...
  local package=$1 program
  shift
  for program; do
    programs+=("$program")
    need "$package" find_program "$program"
  done
}
find_program() {  # PROGRAM: its path, looked for in the system folders too
  PATH=$PATH:/usr/sbin:/sbin command -v "$1"
}
need cmake command -v cmake
need g++ command -v c++
need make command -v make
need pkg-config command -v pkg-config
need libedit-dev test -e /usr/include/histedit.h  # line editing, tested at a terminal
need libgtest-dev test -e /usr/include/gtest/gtest.h
need python3-pexpect has_pexpect                # the terminal and signal tests
need_programs coreutils cat chmod chown cp df env head id ln ls mkdir mktemp rm sleep stty \
  tail timeout tr yes
need_programs bash bash
need_programs dash sh
need_programs grep grep
need_programs diffutils cmp
need_programs mawk awk
need_programs mount mount umount                # the full-disk test
need_programs less less                         # the terminal test of less's v
need_programs e2fsprogs mkfs.ext2               # the full-disk test on ext2
need_programs util-linux setpriv                # the suite once more as an unprivileged user
need_programs acl setfacl getfacl               # settings files that others may write
need_programs strace strace                     # system calls interrupted in the signal test
need_programs coreutils chgrp mkfifo mv readlink seq touch truncate  # two users in a shared folder
need_programs findutils find
need_programs sed sed
need_programs libc-bin getent
need_programs passwd groupadd useradd
need_programs e2fsprogs mkfs.ext4               # their folder on an ext4 image

if ((${#missing[@]})); then
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  as_root=()
  if ((EUID != 0)) && command -v sudo >/dev/null; then as_root=(sudo); fi
  if ! command -v apt-get >/dev/null || ((EUID != 0 && ${#as_root[@]} == 0)); then
    echo "test.sh: the tests need these Debian packages; install them as root:" \
      "apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "test.sh: installing ${missing[*]}"
  "${as_root[@]}" apt-get update -qq </dev/null
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" \
    </dev/null
fi

cmake -S . -B build-test -DMORVAX_TESTS=ON "$@"
cmake --build build-test -j

# The declared programs, and python3 as the one that has pexpect.
declared=$(mktemp -d)
trap 'rm -rf "$declared"' EXIT
chmod 755 "$declared"  # the unprivileged run looks there too
for program in "${programs[@]}"; do
  path=$(find_program "$program") || {
    echo "test.sh: $program, which the tests run, is not installed" >&2
    exit 1
  }
  ln -s "$path" "$declared/$program"
done
for python in python3 /usr/bin/python3; do
  if path=$("$python" -c 'import sys, pexpect; print(sys.executable)' 2>/dev/null); then
    ln -s "$path" "$declared/python3"
    break
  fi
done
PATH=$declared "$(command -v ctest)" --test-dir build-test --output-on-failure --no-tests=error
