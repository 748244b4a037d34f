#!/bin/sh
# The manual page renders with man and with groff's warnings all on, and
# neither says a word on standard error. Also checks that every command word
# the program answers to has its entry, so the page cannot fall behind.
#   tests/manual_page_test.sh <path of corvane.1>
set -u
page=$1
missing=""
for tool in man groff; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  if [ "${CI:-}" = "true" ]; then
    echo "FAIL: missing:$missing (scripts/install-deps --test installs them)"
    exit 1
  fi
  echo "SKIP: missing:$missing (scripts/install-deps --test installs them)"
  exit 77
fi

status=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check() {
  # $1: what ran; the command's standard error is in $scratch/err.
  if [ "$2" -ne 0 ]; then
    echo "FAIL: $1 exited with $2"
    status=1
  fi
  if [ -s "$scratch/err" ]; then
    echo "FAIL: $1 warned:"
    cat "$scratch/err"
    status=1
  fi
}

MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" >"$scratch/man.txt" 2>"$scratch/err"
check "man -l" $?
LC_ALL=C.UTF-8 man --warnings=all -l "$page" >/dev/null 2>"$scratch/err"
check "man --warnings=all -l" $?
groff -man -Tutf8 -ww "$page" >/dev/null 2>"$scratch/err"
check "groff -man -Tutf8 -ww" $?

# The rendered page names every command and the store's place.
for word in request_access check_permission_status list reminders \
    special_reminders get toggle delete XDG_DATA_HOME .local/share/corvane \
    "EXIT STATUS"; do
  if ! grep -q -- "$word" "$scratch/man.txt"; then
    echo "FAIL: the rendered page does not mention $word"
    status=1
  fi
done
# Lines longer than the width mean a construct that did not fill.
if LC_ALL=C.UTF-8 grep -E '^.{81,}' "$scratch/man.txt"; then
  echo "FAIL: the rendered lines above are wider than 80 columns"
  status=1
fi
[ "$status" -eq 0 ] && echo "manual page renders cleanly"
exit "$status"
