#!/usr/bin/env python3
"""Kills a toggle of a repeating reminder at every system call it makes,
then toggles again, and counts what the kills left behind.

  bench/kill_sweep.py path/to/corvane [--step N] [--fail ERRNO] [--check]

For each system call of a clean run, in order, a fresh store's series is
toggled under strace with SIGKILL injected at that call (or, with --fail,
that one call failing with the error named), then toggled once more without
strace. Afterwards the list must hold one completed item per occurrence
completed, each date once, and the series must have moved once per
completed item; with --fail, a toggle that answered a failure must also
have left the list as it was, and one that answered success must have done
the whole change. Prints the number of runs, how many left the series
half-moved before the retry, how many were wrong after it, and how many
completed an occurrence twice; with --check, exits 1 when any was wrong
(and 77 when strace cannot trace here).
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

SERIES = (
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//sweep//EN\r\n"
    "BEGIN:VTODO\r\nUID:series@example.org\r\nDTSTAMP:20261201T080000Z\r\n"
    "SUMMARY:Water the plants\r\nDTSTART;VALUE=DATE:20261201\r\n"
    "DUE;VALUE=DATE:20261201\r\nRRULE:FREQ=DAILY\r\n"
    "END:VTODO\r\nEND:VCALENDAR\r\n")
IDENTIFIER = "acc/list/series"


def fresh_store(base):
    shutil.rmtree(base, ignore_errors=True)
    folder = os.path.join(base, "corvane", "acc", "list")
    os.makedirs(folder)
    with open(os.path.join(folder, "series.ics"), "w", newline="") as f:
        f.write(SERIES)
    return folder


def state(folder):
    """(series due, [due of each completed item]) as the files hold them."""
    series_due, completed = None, []
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".ics") or name.startswith("."):
            continue
        text = open(os.path.join(folder, name), newline="").read()
        due = re.search(r"\r\nDUE[^:]*:(\d{8})", text)
        due = due.group(1) if due else None
        if name == "series.ics":
            series_due = due
        elif "STATUS:COMPLETED" in text:
            completed.append(due)
    return series_due, completed


def moves(due):
    return None if due is None else int(due) - 20261201  # days, in December


def run(corvane, env, prefix=()):
    return subprocess.run(list(prefix) + [corvane, "toggle", IDENTIFIER, "true"],
                          env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=60)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("corvane")
    parser.add_argument("--step", type=int, default=1)
    parser.add_argument("--fail", help="an errno name such as EIO")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-o", "/dev/null", "true"],
            stderr=subprocess.DEVNULL).returncode != 0:
        print("strace is missing or cannot trace here")
        return 77 if args.check else 1
    inject = f"error={args.fail}" if args.fail else "signal=SIGKILL"
    base = tempfile.mkdtemp(prefix="kill-sweep-")
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(base, "store"))
    store = os.path.join(base, "store")
    trace = os.path.join(base, "trace")

    fresh_store(store)
    run(args.corvane, env, ["strace", "-f", "-qq", "-o", trace])
    calls = [m.group(1) for line in open(trace)
             if (m := re.match(r"\d+\s+(\w+)\(", line))]
    seen, points = {}, []
    for call in calls:
        seen[call] = seen.get(call, 0) + 1
        points.append((call, seen[call]))

    kills = half = wrong = twice = 0
    for call, nth in points[::args.step]:
        folder = fresh_store(store)
        answer = run(args.corvane, env,
                     ["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                      f"trace={call}", "-e", f"inject={call}:{inject}:when={nth}"])
        kills += 1
        due, completed = state(folder)
        if len(completed) != moves(due):
            half += 1
        # A failing write of the answer itself leaves nothing to judge it by.
        if args.fail and answer.stdout:
            succeeded = json.loads(answer.stdout or b"{}").get("success")
            if (len(completed), moves(due)) != ((1, 1) if succeeded else (0, 0)):
                wrong += 1
                print(f"{call}#{nth} failing: answered {answer.stdout!r}, "
                      f"series due {due}, completed {completed}",
                      file=sys.stderr)
                continue
        run(args.corvane, env)
        due, completed = state(folder)
        if len(completed) != len(set(completed)):
            twice += 1
        if len(completed) != moves(due) or len(completed) == 0:
            wrong += 1
            print(f"after {call}#{nth}: series due {due}, completed {completed}",
                  file=sys.stderr)
    shutil.rmtree(base, ignore_errors=True)
    print(f"system calls {len(points)}, runs {kills}, half-moved before the "
          f"retry {half}, wrong after the retry {wrong}, occurrence completed "
          f"twice {twice}")
    return 1 if args.check and (wrong or twice) else 0


if __name__ == "__main__":
    sys.exit(main())
