#!/usr/bin/env bash
# Checks that Morvax installs and packages as a Unix tool should:
#   1. the manual page renders with groff without a single warning;
#   2. `cmake --install` into a fresh prefix gives bin/morvax and share/man/man1/morvax.1;
#   3. `man -l` reads the installed page, and its SYNOPSIS is the usage that `morvax --help`
#      prints; `--help` and `--version` leave no settings file behind;
#   4. `cpack -G DEB` builds a package with the right name, version and section that holds
#      the binary and the page, and whose binary runs.
#
# Usage: tests/packaging.sh BUILD_DIR      (a configured and built tree)
#
# Needs no standard input. Missing tools (groff, man, dpkg-deb, dpkg-shlibdeps) are installed
# with apt-get when running as root, as on CI; otherwise the script says what to install.
# Exits non-zero on the first failure.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi

fail() {
  echo "packaging: FAIL: $*" >&2
  exit 1
}
step() { echo "packaging: $*"; }

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[[ -d $1 ]] || fail "no build directory $1"
build=$(cd "$1" && pwd)
[[ -f $build/CMakeCache.txt ]] || fail "$build is not a configured build directory"
page_src=$src/docs/morvax.1
[[ -f $page_src ]] || fail "no manual page $page_src"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || fail "no project version in $build/CMakeCache.txt"

# --- tools -------------------------------------------------------------------------------
for tool in cmake cpack; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
missing=()
command -v groff >/dev/null || missing+=(groff-base)
command -v man >/dev/null || missing+=(man-db)
command -v dpkg-deb >/dev/null || missing+=(dpkg)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    fail "missing packages: ${missing[*]} (apt-get install ${missing[*]})"
  fi
  step "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq </dev/null >/dev/null || fail "apt-get update failed"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null ||
    fail "apt-get install ${missing[*]} failed"
  for tool in groff man dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || fail "$tool is still missing after apt-get install"
  done
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- 1. the page renders cleanly -----------------------------------------------------------
step "groff -man -Tutf8 -ww -z docs/morvax.1"
warnings=$(groff -man -Tutf8 -ww -z "$page_src" 2>&1 </dev/null) || fail "groff failed: $warnings"
[[ -z $warnings ]] || fail "groff warns about docs/morvax.1:"$'\n'"$warnings"

# --- 2. cmake --install --------------------------------------------------------------------
prefix=$tmp/prefix
step "cmake --install $build --prefix <tmp>"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 </dev/null ||
  fail "cmake --install failed:"$'\n'"$(cat "$tmp/install.log")"
binary=$prefix/bin/morvax
page=$prefix/share/man/man1/morvax.1
[[ -f $binary && -x $binary ]] || fail "bin/morvax was not installed"
[[ -f $page ]] || fail "share/man/man1/morvax.1 was not installed"
cmp -s "$page" "$page_src" || fail "the installed page differs from docs/morvax.1"

# --- 3. man -l, and the usage agrees with --help ------------------------------------------
step "man -l <prefix>/share/man/man1/morvax.1"
MANWIDTH=200 MANPAGER=cat man -l -P cat "$page" >"$tmp/man.txt" 2>"$tmp/man.err" </dev/null ||
  fail "man -l failed:"$'\n'"$(cat "$tmp/man.err")"
grep -q '^SYNOPSIS' "$tmp/man.txt" || fail "man -l rendered no SYNOPSIS"

# The SYNOPSIS lines of the page and the usage lines of --help (up to the first empty line,
# without "Usage:"), each with its blanks squeezed, must be the same lines.
synopsis=$(awk '/^SYNOPSIS/ {on = 1; next} on && /^[^ \t]/ {exit} on && NF' "$tmp/man.txt" |
  sed -E 's/^[[:space:]]+//; s/[[:space:]]+/ /g; s/ $//')
mkdir "$tmp/cwd"
(cd "$tmp/cwd" && "$binary" --help) >"$tmp/help.txt" </dev/null || fail "morvax --help failed"
usage=$(awk 'NF == 0 {exit} {print}' "$tmp/help.txt" |
  sed -E 's/^Usage://; s/^[[:space:]]+//; s/[[:space:]]+/ /g; s/ $//')
[[ -n $usage ]] || fail "morvax --help printed no usage"
if [[ $synopsis != "$usage" ]]; then
  fail "the page's SYNOPSIS and morvax --help disagree:"$'\n'"page:"$'\n'"$synopsis"$'\n'"--help:"$'\n'"$usage"
fi
(cd "$tmp/cwd" && "$binary" --version) >"$tmp/version.txt" </dev/null || fail "morvax --version failed"
[[ $(head -n 1 "$tmp/version.txt") == "Morvax $version" ]] ||
  fail "morvax --version printed '$(head -n 1 "$tmp/version.txt")', not 'Morvax $version'"
[[ -z $(ls -A "$tmp/cwd") ]] || fail "--help or --version left files behind: $(ls -A "$tmp/cwd")"

# --- 4. cpack -G DEB -----------------------------------------------------------------------
step "cpack -G DEB (in $build)"
(cd "$build" && cpack -G DEB -B "$tmp/pkg") >"$tmp/cpack.log" 2>&1 </dev/null ||
  fail "cpack -G DEB failed:"$'\n'"$(cat "$tmp/cpack.log")"
debs=("$tmp"/pkg/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
step "dpkg-deb -c $(basename "$deb")"
dpkg-deb -c "$deb" | tee "$tmp/contents.txt"
grep -Eq '^-.* \./usr/bin/morvax$' "$tmp/contents.txt" || fail "the package lacks usr/bin/morvax"
grep -Eq '^-.* \./usr/share/man/man1/morvax\.1(\.gz)?$' "$tmp/contents.txt" ||
  fail "the package lacks usr/share/man/man1/morvax.1"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == morvax ]] || fail "Package is '$(field Package)', not morvax"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Section) == editors ]] || fail "Section is '$(field Section)', not editors"
[[ -n $(field Maintainer) ]] || fail "the package names no maintainer"
[[ -n $(field Description) ]] || fail "the package has no description"
[[ $(field Depends) == *libc6* ]] || fail "Depends ('$(field Depends)') does not name libc6"

# What the package would install: every file matches its checksum, the binary runs, and
# the page is readable by man.
dpkg-deb -x "$deb" "$tmp/root"
dpkg-deb -e "$deb" "$tmp/control"
(cd "$tmp/root" && md5sum --quiet -c "$tmp/control/md5sums") || fail "md5sums do not match"
(cd "$tmp/cwd" && "$tmp/root/usr/bin/morvax" --version) >"$tmp/packaged-version.txt" </dev/null ||
  fail "the packaged morvax does not run"
[[ $(head -n 1 "$tmp/packaged-version.txt") == "Morvax $version" ]] ||
  fail "the packaged morvax --version printed '$(head -n 1 "$tmp/packaged-version.txt")'"
packaged_page=$(ls "$tmp"/root/usr/share/man/man1/morvax.1*)
man -l -P cat "$packaged_page" >"$tmp/packaged-man.txt" 2>&1 </dev/null ||
  fail "man -l cannot read the packaged page"
grep -q '^SYNOPSIS' "$tmp/packaged-man.txt" || fail "the packaged page renders no SYNOPSIS"

step "all checks passed ($(basename "$deb"))"
