#!/bin/sh
# Runs the Akonadi test program on a private session bus with a private
# home and XDG folders, beside a private Akonadi (SQLite, no default
# resources) holding single-file iCal resources over temporary .ics
# files:
#   akonadi_session.sh <seeding tool> <test program> [arguments...]
# The test program finds the to-do collection it changes in
# AKONADI_TEST_COLLECTION and its file in AKONADI_TEST_FILE; a read-only
# resource's collection, holding one to-do, is in AKONADI_TEST_READ_ONLY. Every step has a hard
# time limit, and every process this run started is ended by its id. Where Akonadi or the
# test program is missing the suite is skipped (77), and fails instead
# under CI=true.
set -eu

say() { echo "akonadi suite: $*" >&2; }
missing() {
  say "not run: $1"
  if [ "${CI:-}" = true ]; then exit 1; fi
  exit 77
}

# The processes whose environment holds this run's private home, but this
# shell: what the run started and has not ended yet.
ours() {
  for entry in /proc/[0-9]*; do
    pid=${entry#/proc/}
    [ "$pid" != $$ ] || continue
    grep -qzxF "HOME=$1/home" "$entry/environ" 2>/dev/null && echo "$pid"
  done
  return 0
}

# Ends the given processes: a term, a bounded wait, then a kill.
end_all() {
  [ -n "$*" ] || return 0
  kill -TERM "$@" 2>/dev/null || true
  tries=0
  while [ $tries -lt 50 ]; do
    left=
    for pid in "$@"; do
      if kill -0 "$pid" 2>/dev/null; then left="$left $pid"; fi
    done
    [ -n "$left" ] || return 0
    sleep 0.1
    tries=$((tries + 1))
  done
  # shellcheck disable=SC2086
  kill -KILL $left 2>/dev/null || true
}

if [ "${1:-}" != --inside ]; then
  [ $# -ge 2 ] || missing "not built (CMake found no KF5Akonadi)"
  for program in akonadi_control akonadiserver akonadi_ical_resource \
    dbus-run-session dbus-send; do
    command -v $program >/dev/null || missing "$program is not installed"
  done

  private=$(mktemp -d)
  finish() {
    # Whatever a killed run left behind is ended here, and named.
    sleep 0.5
    left=$(ours "$private")
    if [ -n "$left" ]; then
      say "processes left running, ended now: $(echo $left)"
      # shellcheck disable=SC2086
      end_all $left
      status=1
    fi
    rm -rf "$private"
    exit $status
  }
  status=1
  trap finish EXIT
  mkdir -p "$private/home" "$private/data" "$private/config/akonadi" \
    "$private/cache" "$private/runtime"
  chmod 700 "$private/runtime"
  printf '[%%General]\nDriver=QSQLITE3\n' \
    >"$private/config/akonadi/akonadiserverrc"
  # No first-run default resources (a mail folder, an address book): they
  # slow the start and hold nothing of the test's.
  printf '[ProcessedDefaults]\ndefaultcalendar=skipped\ndefaultaddressbook=skipped\ndefaultnotebook=skipped\nbirthdaycalendar=skipped\n' \
    >"$private/config/akonadi-firstrunrc"
  # A session bus that starts no service itself: Akonadi is started here,
  # and nothing else (EDS, for one) has a part in these runs.
  printf '%s' '<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>' \
    >"$private/bus.conf"
  # In the background, so that a signal to this script reaches the run
  # (and through timeout every process of its group) at once.
  child=
  trap 'kill -TERM $child 2>/dev/null || true' TERM INT
  timeout -k 10 270 env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY \
    -u WAYLAND_DISPLAY -u SESSION_MANAGER \
    HOME="$private/home" XDG_DATA_HOME="$private/data" \
    XDG_CONFIG_HOME="$private/config" XDG_CACHE_HOME="$private/cache" \
    XDG_RUNTIME_DIR="$private/runtime" QT_QPA_PLATFORM=offscreen \
    AKONADI_DISABLE_AGENT_AUTOSTART=true \
    dbus-run-session --config-file="$private/bus.conf" -- /bin/sh "$0" --inside "$private" "$@" &
  child=$!
  status=0
  wait $child || status=$?
  while kill -0 $child 2>/dev/null; do wait $child || status=$?; done
  exit $status
fi

# On the private bus.
private=$2
seed=$3
shift 3

bus() {
  timeout 10 dbus-send --session --print-reply=literal "$@"
}
owned() {
  bus --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q true
}
# Waits, at most $2 tenths of a second, until the command $1 succeeds.
await() {
  tries=0
  until eval "$1"; do
    tries=$((tries + 1))
    [ $tries -lt "$2" ] || return 1
    sleep 0.1
  done
}

# Akonadi's processes: akonadi_control and all it started (the server and
# the agents, which outlive a killed akonadi_control).
descendants() {
  for child in $(ps -o pid= --ppid "$1"); do
    echo "$child"
    descendants "$child"
  done
}
none_of() {
  for pid in "$@"; do
    if kill -0 "$pid" 2>/dev/null; then return 1; fi
  done
}
control=
stop() {
  status=$?
  [ -n "$control" ] || exit $status
  started="$control $(descendants "$control")"
  bus --dest=org.freedesktop.Akonadi.Control /ControlManager \
    org.freedesktop.Akonadi.ControlManager.shutdown >/dev/null 2>&1 || true
  # shellcheck disable=SC2086
  await 'none_of $started' 50 || end_all $started
  for pid in $started; do
    if kill -0 "$pid" 2>/dev/null; then
      say "process $pid would not end"
      status=1
    fi
  done
  exit $status
}
tested=
trap stop EXIT
trap 'kill -TERM $tested 2>/dev/null || true; exit 143' TERM INT

akonadi_control >"$private/akonadi.log" 2>&1 &
control=$!
await 'owned org.freedesktop.Akonadi.Control && owned org.freedesktop.Akonadi' 300 ||
  { say "Akonadi did not start"; cat "$private/akonadi.log" >&2; exit 1; }

# Makes the next iCal resource over the calendar file $1, titled $2 and
# named $3 (its account in corvane's lists), read-only when $4 is true;
# sets $collection to its to-do collection's id.
made=0
resource() {
  # The path in the instance's settings before it starts, then over the bus.
  printf '[General]\nPath=%s\nDisplayName=%s\nReadOnly=%s\n' "$1" "$2" "$4" \
    >"$private/config/akonadi_ical_resource_${made}rc"
  made=$((made + 1))
  instance=$(bus --dest=org.freedesktop.Akonadi.Control /AgentManager \
    org.freedesktop.Akonadi.AgentManager.createAgentInstance \
    string:akonadi_ical_resource | tr -d ' \n')
  [ -n "$instance" ] || { say "no iCal resource"; exit 1; }
  await "owned org.freedesktop.Akonadi.Resource.$instance" 100 ||
    { say "$instance did not start"; exit 1; }
  settings="--dest=org.freedesktop.Akonadi.Resource.$instance /Settings"
  # shellcheck disable=SC2086
  {
    bus $settings org.kde.Akonadi.ICal.Settings.setPath "string:$1"
    bus $settings org.kde.Akonadi.ICal.Settings.setDisplayName "string:$2"
    bus $settings org.kde.Akonadi.ICal.Settings.setReadOnly "boolean:$4"
    bus $settings org.kde.Akonadi.ICal.Settings.save
  } >/dev/null
  # The first reconfigure or synchronize is sometimes lost: again until
  # the resource's collection is there.
  collection=
  tries=0
  while [ -z "$collection" ]; do
    tries=$((tries + 1))
    [ $tries -le 20 ] || { say "$instance made no collection"; exit 1; }
    bus "--dest=org.freedesktop.Akonadi.Resource.$instance" / \
      org.freedesktop.Akonadi.Agent.Control.reconfigure >/dev/null 2>&1 || true
    bus "--dest=org.freedesktop.Akonadi.Resource.$instance" / \
      org.freedesktop.Akonadi.Resource.synchronize >/dev/null 2>&1 || true
    sleep 0.5
    collection=$("$seed" collections |
      awk -v r="$instance" '$2 == r {print $1; exit}')
  done
  # Set after the last reconfigure, which names it after the title.
  bus --dest=org.freedesktop.Akonadi.Control /AgentManager \
    org.freedesktop.Akonadi.AgentManager.setAgentInstanceName \
    "string:$instance" "string:$3" >/dev/null
}

# A calendar file holding the VTODO lines $2 (CRLF written \r\n).
calendar() {
  printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tests//EN\r\n%bEND:VCALENDAR\r\n' \
    "$2" >"$1"
}
# A read-only resource holding one to-do, then the one the tests change:
# empty, or holding the calendar a benchmark hands in
# AKONADI_SESSION_CALENDAR.
calendar "$private/holidays.ics" \
  'BEGIN:VTODO\r\nUID:holiday\r\nSUMMARY:Bank holiday\r\nEND:VTODO\r\n'
resource "$private/holidays.ics" Holidays "Published calendars" true
readonly=$collection
file="$private/tasks.ics"
if [ -n "${AKONADI_SESSION_CALENDAR:-}" ]; then
  cp "$AKONADI_SESSION_CALENDAR" "$file"
else
  calendar "$file" ''
fi
resource "$file" "Tasks file" "Tasks file" false

status=0
AKONADI_TEST_COLLECTION=$collection AKONADI_TEST_FILE=$file \
  AKONADI_TEST_READ_ONLY=$readonly \
  timeout -k 5 220 "$@" &
tested=$!
wait $tested || status=$?
exit $status
