#!/usr/bin/env bash
# Checks that Morvax installs and packages as a Unix tool should:
#   1. the manual page renders with groff without a single warning, and lexgrog reads its
#      NAME line;
#   2. `cmake --install` into a fresh prefix gives bin/morvax, share/man/man1/morvax.1 and
#      share/doc/morvax/ with the README and the copyright;
#   3. `man -l` reads the installed page, and its SYNOPSIS is the usage that `morvax --help`
#      prints; `--help` and `--version` leave no settings file behind;
#   4. `cpack -G DEB` builds a package with the name, the version of cmake/deb/changelog and
#      the section it should have, a Depends that names the package of every shared library
#      the binary needs, the binary, the page and the Debian documentation, maintainer scripts
#      of mode 0755, and whose binary runs;
#   5. lintian finds no error and no warning in it, and every override says why;
#   6. with --dpkg-install (as root; skipped where a morvax package is installed): dpkg installs
#      the package, which then offers /usr/bin/morvax as the `editor` alternative at priority
#      -100, and removes it again, alternative included.
#
# Usage: tests/packaging.sh [--dpkg-install] BUILD_DIR      (a configured and built tree)
#
# Needs no standard input. Missing tools (groff, man, lexgrog, dpkg-deb, dpkg-shlibdeps,
# lintian) are installed with apt-get when running as root, as on CI; otherwise the script
# says what to install. Exits non-zero on the first failure.
set -euo pipefail

dpkg_install=0
if [[ ${1-} == --dpkg-install ]]; then
  dpkg_install=1
  shift
fi
if [[ $# -ne 1 ]]; then
  echo "usage: $0 [--dpkg-install] BUILD_DIR" >&2
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
# The package's version is the newest entry of the Debian changelog, upstream part first.
deb_dir=$src/cmake/deb
deb_version=$(sed -n '1s/^morvax (\([^)]*\)) .*/\1/p' "$deb_dir/changelog")
[[ $deb_version == "$version"-* ]] ||
  fail "cmake/deb/changelog starts with version '$deb_version', not $version-REVISION"

# --- tools -------------------------------------------------------------------------------
for tool in cmake cpack; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
missing=()
command -v groff >/dev/null || missing+=(groff-base)
command -v man >/dev/null || missing+=(man-db)
command -v dpkg-deb >/dev/null || missing+=(dpkg)
command -v lexgrog >/dev/null || missing+=(man-db)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v lintian >/dev/null || missing+=(lintian)
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    fail "missing packages: ${missing[*]} (apt-get install ${missing[*]})"
  fi
  step "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq </dev/null >/dev/null || fail "apt-get update failed"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null ||
    fail "apt-get install ${missing[*]} failed"
  for tool in groff man lexgrog dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || fail "$tool is still missing after apt-get install"
  done
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- 1. the page renders cleanly -----------------------------------------------------------
step "groff -man -Tutf8 -ww -z docs/morvax.1"
warnings=$(groff -man -Tutf8 -ww -z "$page_src" 2>&1 </dev/null) || fail "groff failed: $warnings"
[[ -z $warnings ]] || fail "groff warns about docs/morvax.1:"$'\n'"$warnings"
# groff passes a control character such as a form feed (a "\f" a script wrote) in silence.
if stray=$(grep -nP '[\x00-\x08\x0b-\x1f]' "$page_src"); then
  fail "docs/morvax.1 holds control characters:"$'\n'"$stray"
fi
step "lexgrog docs/morvax.1"
whatis=$(lexgrog "$page_src" 2>&1 </dev/null) || fail "lexgrog finds no NAME line: $whatis"
[[ $whatis == *'"morvax - '* ]] || fail "lexgrog reads an unexpected NAME line: $whatis"

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
cmp -s "$prefix/share/doc/morvax/README.md" "$src/README.md" ||
  fail "share/doc/morvax/README.md is missing or differs from README.md"
cmp -s "$prefix/share/doc/morvax/copyright" "$deb_dir/copyright" ||
  fail "share/doc/morvax/copyright is missing or differs from cmake/deb/copyright"

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
for file in usr/share/man/man1/morvax.1.gz usr/share/doc/morvax/copyright \
            usr/share/doc/morvax/changelog.Debian.gz usr/share/doc/morvax/README.md \
            usr/share/lintian/overrides/morvax; do
  grep -Eq "^-rw-r--r-- .* \./$file\$" "$tmp/contents.txt" || fail "the package lacks $file (mode 0644)"
done

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == morvax ]] || fail "Package is '$(field Package)', not morvax"
[[ $(field Version) == "$deb_version" ]] || fail "Version is '$(field Version)', not $deb_version"
[[ $(field Section) == editors ]] || fail "Section is '$(field Section)', not editors"
[[ $(field Maintainer) =~ ^[^\<\>@]+\ \<[^@\ ]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+\>$ ]] ||
  fail "Maintainer '$(field Maintainer)' is not 'Name <user@host.domain>'"
[[ -n $(field Description) ]] || fail "the package has no description"

# What the package would install: every file matches its checksum, the compressed files are
# what gzip -9n makes of their sources, the binary runs, and the page is readable by man.
dpkg-deb -x "$deb" "$tmp/root"
dpkg-deb -e "$deb" "$tmp/control"
for script in postinst prerm; do
  [[ $(stat -c %a "$tmp/control/$script" 2>/dev/null) == 755 ]] ||
    fail "the package's $script is missing or not of mode 0755"
done
cmp -s <(gzip -9nc "$page_src") "$tmp/root/usr/share/man/man1/morvax.1.gz" ||
  fail "usr/share/man/man1/morvax.1.gz is not docs/morvax.1 compressed with gzip -9n"
cmp -s <(gzip -9nc "$deb_dir/changelog") "$tmp/root/usr/share/doc/morvax/changelog.Debian.gz" ||
  fail "changelog.Debian.gz is not cmake/deb/changelog compressed with gzip -9n"
head -n 1 "$tmp/root/usr/share/doc/morvax/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "usr/share/doc/morvax/copyright is not in the machine-readable format"

# Every shared library the binary needs belongs to a package that Depends names, so a
# library linked in later is a dependency without anyone writing it down.
depends=$(field Depends)
ldd "$tmp/root/usr/bin/morvax" >"$tmp/ldd.txt" 2>&1 || fail "ldd failed:"$'\n'"$(cat "$tmp/ldd.txt")"
while read -r soname; do
  path=$(awk -v so="$soname" '$1 == so && $2 == "=>" {print $3; exit} $1 ~ "/" so "$" {print $1; exit}' \
    "$tmp/ldd.txt")
  [[ -n $path ]] || fail "ldd does not resolve $soname"
  owner=
  for candidate in "$path" "${path#/usr}" "/usr$path" "$(realpath "$path")"; do
    owner=$(dpkg -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1) && [[ -n $owner ]] && break
  done
  [[ -n $owner ]] || fail "no installed package owns $path ($soname)"
  [[ $depends =~ (^|,\ *)$owner([\ ,]|$) ]] ||
    fail "the binary needs $soname from $owner, but Depends is '$depends'"
done < <(readelf -d "$tmp/root/usr/bin/morvax" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[[ $depends == *libc6* ]] || fail "Depends ('$depends') does not name libc6"
# Line editing comes from libedit when the build found it.
if grep -qx 'LIBEDIT_FOUND:INTERNAL=1' "$build/CMakeCache.txt"; then
  [[ $depends =~ (^|,\ *)libedit2([\ ,]|$) ]] ||
    fail "built with line editing, but Depends ('$depends') does not name libedit2"
fi
(cd "$tmp/root" && md5sum --quiet -c "$tmp/control/md5sums") || fail "md5sums do not match"
(cd "$tmp/cwd" && "$tmp/root/usr/bin/morvax" --version) >"$tmp/packaged-version.txt" </dev/null ||
  fail "the packaged morvax does not run"
[[ $(head -n 1 "$tmp/packaged-version.txt") == "Morvax $version" ]] ||
  fail "the packaged morvax --version printed '$(head -n 1 "$tmp/packaged-version.txt")'"
packaged_page=$(ls "$tmp"/root/usr/share/man/man1/morvax.1*)
man -l -P cat "$packaged_page" >"$tmp/packaged-man.txt" 2>&1 </dev/null ||
  fail "man -l cannot read the packaged page"
grep -q '^SYNOPSIS' "$tmp/packaged-man.txt" || fail "the packaged page renders no SYNOPSIS"

# --- 5. lintian -----------------------------------------------------------------------------
# Every override (cmake/deb/lintian-overrides) is preceded by a comment that gives its reason;
# overridden tags are not shown, and --show-overrides would make them fail the run.
awk '/^#/ {reason = 1; next} NF && !reason {bad = 1; print "packaging: override without a reason: " $0}
     {reason = 0} END {exit bad}' "$deb_dir/lintian-overrides" >&2 ||
  fail "cmake/deb/lintian-overrides has an override with no comment before it"
step "lintian $(basename "$deb")"
lintian_status=0
lintian --fail-on error,warning --display-info "$deb" >"$tmp/lintian.txt" \
  2>"$tmp/lintian.err" </dev/null || lintian_status=$?
cat "$tmp/lintian.txt"
# Lintian also warns that it runs as root, which is not about the package.
grep -vx 'running with root privileges is not recommended!' "$tmp/lintian.err" >&2 || true
((lintian_status == 0)) || fail "lintian reports errors or warnings (status $lintian_status)"
if grep -Eq '^[EW]: ' "$tmp/lintian.txt"; then
  fail "lintian reports errors or warnings"
fi

# --- 6. dpkg -i, the editor alternative, dpkg -r --------------------------------------------
if ((dpkg_install)) && dpkg-query -W -f '${Status}' morvax 2>/dev/null | grep -q installed; then
  step "SKIP dpkg -i and -r: a morvax package is already installed here, and is left alone"
elif ((dpkg_install)); then
  [[ $(id -u) -eq 0 ]] || fail "--dpkg-install needs root"
  step "dpkg -i $(basename "$deb"), then the editor alternative, then dpkg -r"
  trap 'dpkg -r morvax >/dev/null 2>&1 </dev/null || true; rm -rf "$tmp"' EXIT
  dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 </dev/null || fail "dpkg -i failed:"$'\n'"$(cat "$tmp/dpkg.log")"
  update-alternatives --query editor >"$tmp/alternatives.txt" </dev/null ||
    fail "no editor alternative after dpkg -i"
  awk '/^Alternative: / {on = ($2 == "/usr/bin/morvax")} on' "$tmp/alternatives.txt" >"$tmp/ours.txt"
  grep -qx 'Priority: -100' "$tmp/ours.txt" || fail "/usr/bin/morvax is not an editor alternative at -100:"$'\n'"$(cat "$tmp/alternatives.txt")"
  grep -qx ' editor.1.gz /usr/share/man/man1/morvax.1.gz' "$tmp/ours.txt" ||
    fail "the editor alternative's page is not morvax.1.gz:"$'\n'"$(cat "$tmp/ours.txt")"
  (cd "$tmp/cwd" && /usr/bin/morvax --version) </dev/null | grep -qx "Morvax $version" ||
    fail "the installed /usr/bin/morvax does not run"
  dpkg -r morvax >"$tmp/dpkg.log" 2>&1 </dev/null || fail "dpkg -r failed:"$'\n'"$(cat "$tmp/dpkg.log")"
  if update-alternatives --list editor 2>/dev/null </dev/null | grep -qx /usr/bin/morvax; then
    fail "dpkg -r left /usr/bin/morvax as an editor alternative"
  fi
  [[ ! -e /usr/bin/morvax ]] || fail "dpkg -r left /usr/bin/morvax"
fi

step "all checks passed ($(basename "$deb"))"
