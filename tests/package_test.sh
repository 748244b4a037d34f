#!/bin/sh
# Installing corvane: `cmake --install` puts the program and its manual page
# under the prefix, `cpack -G DEB` makes a package whose dependencies name
# the package of every shared library the program loads, and on the CI
# machine (root, CI=true) that package installs with apt-get and runs.
#   tests/package_test.sh <build dir> <source dir>
set -u
build=$1
source=$2
examples="$source/examples"

fail() { echo "FAIL: $*"; exit 1; }

missing=""
for tool in cmake cpack dpkg-deb dpkg-shlibdeps dpkg-query file objdump strip \
    ldd; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  [ "${CI:-}" = "true" ] &&
    fail "missing:$missing (scripts/install-deps --test installs them)"
  echo "SKIP: missing:$missing (scripts/install-deps --test installs them)"
  exit 77
fi

scratch=$(mktemp -d)
installed_here=""
cleanup() {
  if [ -n "$installed_here" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq corvane \
      >/dev/null 2>&1
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Runs `list` with the program given against the example store and checks
# that it answers with every example list.
check_lists() {
  program=$1
  XDG_DATA_HOME="$examples" TZ=UTC LC_ALL=C "$program" list \
    >"$scratch/out" 2>"$scratch/err" || fail "$program list exited with $?"
  [ -s "$scratch/err" ] && fail "$program list wrote to standard error"
  grep -q '^  "success" : true,$' "$scratch/out" ||
    fail "$program list did not succeed: $(cat "$scratch/out")"
  for list in 'home\\/errands' 'home\\/garden' 'nextcloud\\/personal' \
      'nextcloud\\/work'; do
    grep -q "\"calendarIdentifier\" : \"$list\"" "$scratch/out" ||
      fail "$program list does not show $list: $(cat "$scratch/out")"
  done
}

# The desktops' modules, one a line: the module's file, its package, and
# what that package's Depends must name besides this corvane (a library the
# module links, the service it talks to). Each is checked where it was built.
modules="corvane-eds.so corvane-eds libecal-2.0 evolution-data-server
corvane-akonadi.so corvane-akonadi libkf5akonadicore5abi2 akonadi-server"
built_modules=$(echo "$modules" | while read -r file rest; do
  [ -f "$build/$file" ] && echo "$file $rest"
done)

# Checks that the program $1, given a session bus (a dead one: no desktop
# store can answer there), loads every module built from where it was
# installed beside it, and lists the example store as without them.
check_modules_found() {
  [ -n "$built_modules" ] || return 0
  rm -f "$scratch"/ld.*
  # A user for whom Akonadi has run once: else its module is not loaded.
  mkdir -p "$scratch/config/akonadi"
  DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent LD_DEBUG=files \
    LD_DEBUG_OUTPUT="$scratch/ld" XDG_DATA_HOME="$examples" \
    XDG_CONFIG_HOME="$scratch/config" TZ=UTC LC_ALL=C \
    "$1" list >"$scratch/bus-out" 2>&1 || fail "$1 list with a bus exited with $?"
  echo "$built_modules" | while read -r file rest; do
    [ -n "$file" ] || continue
    cat "$scratch"/ld.* |
      grep -q "file=$(dirname "$1")/.*$file .*dynamically loaded by $1" ||
      fail "$1 did not load the module $file installed with it"
  done || exit 1
  XDG_DATA_HOME="$examples" TZ=UTC LC_ALL=C "$1" list >"$scratch/out"
  cmp -s "$scratch/out" "$scratch/bus-out" ||
    fail "$1 list with a dead bus differs from without one"
}

# --- cmake --install -------------------------------------------------------
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  fail "cmake --install: $(cat "$scratch/install.log")"
[ -x "$prefix/bin/corvane" ] || fail "cmake --install made no bin/corvane"
cmp -s "$prefix/share/man/man1/corvane.1" "$source/corvane.1" ||
  fail "cmake --install did not put corvane.1 in share/man/man1"
check_lists "$prefix/bin/corvane"
echo "$built_modules" | while read -r file rest; do
  [ -n "$file" ] || continue
  [ -n "$(find "$prefix" -name "$file")" ] ||
    fail "cmake --install did not install $file"
done || exit 1
check_modules_found "$prefix/bin/corvane"

# --- cpack -G DEB ----------------------------------------------------------
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" \
  >"$scratch/cpack.log" 2>&1 || fail "cpack: $(cat "$scratch/cpack.log")"
set -- "$scratch"/package/corvane_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "cpack made no single corvane_*.deb"
deb=$1

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = corvane ] || fail "Package is $(field Package)"
[ "$(field Maintainer)" = "corvane developers" ] ||
  fail "Maintainer is $(field Maintainer)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is $(field Architecture)"
depends=$(field Depends)

dpkg-deb -c "$deb" | awk '{ print $NF }' >"$scratch/contents"
for path in ./usr/bin/corvane ./usr/share/man/man1/corvane.1; do
  grep -qx "$path" "$scratch/contents" || fail "the package lacks $path"
done

# Every library the packaged program loads must come from a package that
# Depends names; so must the zone database that reminders' time zones need.
dpkg-deb -x "$deb" "$scratch/unpacked"
packaged="$scratch/unpacked/usr/bin/corvane"
objdump -p "$packaged" | awk '$1 == "NEEDED" { print $2 }' >"$scratch/needed"
[ -s "$scratch/needed" ] || fail "the packaged program loads no library?"
ldd "$packaged" >"$scratch/ldd" || fail "ldd cannot read the packaged program"
needs_depend() {
  echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/[ :(].*//' | grep -qx "$1" ||
    fail "Depends ($depends) does not name $1 ($2)"
}
# The package that holds a file, under /lib or /usr/lib whichever dpkg knows.
owner_of() {
  for candidate in "$1" "/usr$1" "${1#/usr}"; do
    owner=$(dpkg-query -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] && { echo "$owner"; return; }
  done
}
while read -r library; do
  # The dynamic loader itself (named where shared code uses thread-local
  # storage) is listed by its path alone.
  path=$(awk -v lib="$library" '$1 == lib && $2 == "=>" { print $3 }
    $1 ~ ("/" lib "$") { print $1 }' "$scratch/ldd")
  [ -n "$path" ] || fail "ldd does not find $library"
  owner=$(owner_of "$path")
  [ -n "$owner" ] || fail "no installed package holds $path"
  needs_depend "$owner" "$library"
done <"$scratch/needed"
needs_depend tzdata "time zones"
check_lists "$scratch/unpacked/usr/bin/corvane"

# Each module's own package: the module, for this very corvane, and the
# libraries and service it needs.
echo "$built_modules" | while read -r file package library service; do
  [ -n "$file" ] || continue
  set -- "$scratch"/package/${package}_*.deb
  [ $# -eq 1 ] && [ -f "$1" ] || fail "cpack made no single ${package}_*.deb"
  module_depends=$(dpkg-deb -f "$1" Depends)
  for needed in "corvane (= $(field Version))" "$library" "$service"; do
    echo "$module_depends" | grep -qF "$needed" ||
      fail "$package Depends ($module_depends) does not name $needed"
  done
  dpkg-deb -x "$1" "$scratch/unpacked"
  [ -n "$(find "$scratch/unpacked" -name "$file")" ] ||
    fail "the $package package holds no $file"
done || exit 1
check_modules_found "$scratch/unpacked/usr/bin/corvane"

# --- apt-get install -------------------------------------------------------
if [ "$(id -u)" -ne 0 ] || [ "${CI:-}" != "true" ]; then
  echo "SKIP: installing the package with apt-get happens only as root with" \
    "CI=true; cmake --install and the package's contents and dependencies" \
    "were checked"
  exit 77
fi
status=$(dpkg-query -W -f='${Status}' corvane 2>/dev/null)
if [ "${status##* }" = installed ]; then
  fail "corvane is installed already; this test installs and removes it"
fi
installed_here=yes
(cd "$scratch/package" && DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq ./corvane_*.deb) >"$scratch/apt.log" 2>&1 ||
  fail "apt-get install: $(cat "$scratch/apt.log")"
[ "$(command -v corvane)" = /usr/bin/corvane ] ||
  fail "the installed corvane is not /usr/bin/corvane"
check_lists corvane
# Minimal images tell dpkg to leave manual pages out; there is none to find.
if grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  echo "note: dpkg leaves out manual pages on this machine; not looked for"
else
  [ "$(man -w corvane 2>/dev/null)" = /usr/share/man/man1/corvane.1 ] ||
    fail "man -w corvane does not find the installed page"
fi
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq corvane \
  >"$scratch/apt.log" 2>&1 || fail "apt-get remove: $(cat "$scratch/apt.log")"
installed_here=""
[ -e /usr/bin/corvane ] && fail "apt-get remove left /usr/bin/corvane"
echo "the package installs, runs and is removed"
exit 0
