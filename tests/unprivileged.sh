#!/bin/sh
# Runs the whole test binary once more as an unprivileged user, so that the tests that skip as
# root (to root, permissions refuse nothing) run in CI, which runs as root. What runs is copied
# first to a fresh world-readable folder: the build may sit under a folder the user cannot enter.
# Usage: tests/unprivileged.sh TEST_BINARY
set -eu
binary="$1"
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: not root, so the suite itself already runs these tests as this user"
  exit 77
fi
if ! command -v setpriv >/dev/null 2>&1; then
  echo "SKIP: no setpriv (util-linux)"
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$binary" "$work/tests"
chmod 755 "$work/tests"
mkdir "$work/home"
chown 65534:65534 "$work/home"
cd "$work"
# No sanitizer report files or core dumps are wanted in the folder: the user cannot write it.
setpriv --reuid=65534 --regid=65534 --clear-groups \
  env HOME="$work/home" TMPDIR=/tmp "$work/tests" --gtest_brief=1
