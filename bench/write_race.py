#!/usr/bin/python3
"""Counts the updates of other programs that corvane's writes lose.

Six loops run `corvane toggle` on ten items while two other programs
change the same items: one the way vdirsyncer and todoman do (a temporary
file renamed over the item), one by rewriting the file in place. Each
other write reads the item and raises its own counter line (X-RENAMED or
X-IN-PLACE) by one, so a write that corvane overwrote or deleted shows at
the end as a counter short of the number of writes made. The two other
programs take turns with each other (a lock of this script), so every loss
counted is one that corvane caused.

  write_race.py --corvane PATH [--seconds 60] [--work DIR]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

FILES = 10
LOOPS = 6


def item(uid):
    lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//race//EN",
             "BEGIN:VTODO", f"UID:{uid}", f"SUMMARY:Item {uid}",
             "X-RENAMED:0", "X-IN-PLACE:0", "END:VTODO", "END:VCALENDAR"]
    return "".join(line + "\r\n" for line in lines)


def counter(text, name):
    found = re.search(rf"\r\n{name}:(\d+)\r\n", text)
    return int(found.group(1)) if found else None


def raised(text, name):
    return re.sub(rf"\r\n{name}:(\d+)\r\n",
                  lambda m: f"\r\n{name}:{int(m.group(1)) + 1}\r\n", text,
                  count=1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--corvane", required=True)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--work")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="write-race-")
    shutil.rmtree(work, ignore_errors=True)
    folder = os.path.join(work, "data", "corvane", "acct", "list")
    os.makedirs(folder)
    paths = [os.path.join(folder, f"item{i}.ics") for i in range(FILES)]
    for i, path in enumerate(paths):
        with open(path, "w", newline="") as out:
            out.write(item(f"item{i}"))
    env = {"XDG_DATA_HOME": os.path.join(work, "data"), "TZ": "UTC",
           "LC_ALL": "C", "HOME": work, "PATH": "/usr/bin:/bin"}

    deadline = time.monotonic() + args.seconds
    turn = threading.Lock()
    writes = {"X-RENAMED": [0] * FILES, "X-IN-PLACE": [0] * FILES}
    outcomes = {}
    outcome_lock = threading.Lock()

    def corvane_loop(seed):
        n = seed
        while time.monotonic() < deadline:
            n += 1
            run = subprocess.run(
                [args.corvane, "toggle", f"acct/list/item{n % FILES}",
                 "true" if n % 2 else "false"],
                env=env, capture_output=True, text=True)
            key = "success" if '"success" : true' in run.stdout else (
                re.sub(r".*\"error\" : \"([^\"]*)\".*", r"\1", run.stdout,
                       flags=re.S)[:70] if run.stdout else
                f"no envelope (exit {run.returncode})")
            with outcome_lock:
                outcomes[key] = outcomes.get(key, 0) + 1

    def other_program(name, in_place):
        n = 0
        while time.monotonic() < deadline:
            n += 1
            i = (n * 7 + (3 if in_place else 0)) % FILES
            path = paths[i]
            with turn:
                try:
                    with open(path, newline="") as f:
                        text = f.read()
                except FileNotFoundError:
                    continue
                if counter(text, name) is None:
                    continue  # caught mid-write by the in-place writer
                text = raised(text, name)
                if in_place:
                    with open(path, "r+", newline="") as f:
                        f.write(text)
                        f.truncate()
                else:
                    temporary = os.path.join(folder, f".{i}.race.tmp")
                    with open(temporary, "w", newline="") as f:
                        f.write(text)
                    os.rename(temporary, path)
                writes[name][i] += 1
            time.sleep(0.01)  # a program at work, not a tight loop

    threads = [threading.Thread(target=corvane_loop, args=(k * 1000,))
               for k in range(LOOPS)]
    threads.append(threading.Thread(target=other_program,
                                    args=("X-RENAMED", False)))
    threads.append(threading.Thread(target=other_program,
                                    args=("X-IN-PLACE", True)))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    lost = {}
    for name in writes:
        lost[name] = 0
        for i, path in enumerate(paths):
            with open(path, newline="") as f:
                seen = counter(f.read(), name) or 0
            lost[name] += max(0, writes[name][i] - seen)
    runs = sum(outcomes.values())
    print(f"{runs} corvane toggles in {args.seconds:.0f} s; other writes: "
          f"{sum(writes['X-RENAMED'])} by rename, "
          f"{sum(writes['X-IN-PLACE'])} in place")
    print(f"lost: {lost['X-RENAMED']} by rename, {lost['X-IN-PLACE']} in place")
    for key, count in sorted(outcomes.items(), key=lambda kv: -kv[1]):
        print(f"  {count} x {key}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
