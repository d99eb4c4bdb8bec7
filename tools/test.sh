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
need cmake command -v cmake
need g++ command -v c++
need make command -v make
need pkg-config command -v pkg-config
need libedit-dev test -e /usr/include/histedit.h  # line editing, tested at a terminal
need libgtest-dev test -e /usr/include/gtest/gtest.h
need python3-pexpect has_pexpect
need less command -v less                      # the terminal test of less's v
need e2fsprogs test -x /sbin/mkfs.ext2         # the full-disk test on ext2
need util-linux command -v setpriv             # the suite once more as an unprivileged user
need passwd command -v useradd                 # two users in a shared folder
need mount command -v mount                    # their folder on an ext4 image

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
ctest --test-dir build-test --output-on-failure --no-tests=error
