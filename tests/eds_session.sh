#!/bin/sh
# Runs the EDS test program given as arguments on a private session bus,
# with a private home and XDG folders: the bus starts EDS's daemons for
# this run alone, and they exit with it. Where EDS or the test program is
# missing the suite is skipped (77), and fails instead under CI=true.
set -eu

missing() {
  echo "EDS suite not run: $1" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}
[ $# -ge 1 ] || missing "not built (pkg-config found no libecal-2.0 and libedataserver-1.2)"
[ -x /usr/libexec/evolution-source-registry ] || missing "evolution-data-server is not installed"
command -v dbus-run-session >/dev/null || missing "dbus-run-session is not installed"

private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
mkdir -p "$private/home" "$private/data" "$private/config" "$private/cache" \
  "$private/runtime"
chmod 700 "$private/runtime"
# A hard limit on the whole run: the bus and the daemons it started end
# with dbus-run-session.
timeout -k 10 280 env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
  HOME="$private/home" XDG_DATA_HOME="$private/data" \
  XDG_CONFIG_HOME="$private/config" XDG_CACHE_HOME="$private/cache" \
  XDG_RUNTIME_DIR="$private/runtime" \
  dbus-run-session -- "$@"
