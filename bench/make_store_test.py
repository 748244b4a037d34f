#!/usr/bin/python3
"""Checks the store generator: same seed, same bytes; the promised mix; and
files shaped as todoman and vdirsyncer write them."""

import collections
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def generate(root, count, seed):
    subprocess.run([sys.executable, os.path.join(HERE, "make_store.py"),
                    "--root", root, "--count", str(count), "--seed", str(seed),
                    "--anchor", "2026-03-01"], check=True)


def files_of(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as item:
                found[os.path.relpath(path, root)] = item.read()
    return found


def main_todo(text):
    return text.split("BEGIN:VTODO", 1)[1].split("END:VTODO", 1)[0]


class MakeStoreTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.root = os.path.join(cls.work.name, "a")
        generate(cls.root, 2000, 7)
        cls.files = files_of(cls.root)
        cls.items = {path: data.decode("utf-8") for path, data in cls.files.items()
                     if path.endswith(".ics")}

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        again = os.path.join(self.work.name, "b")
        generate(again, 2000, 7)
        self.assertEqual(files_of(again), self.files)
        other = os.path.join(self.work.name, "c")
        generate(other, 2000, 8)
        self.assertNotEqual(files_of(other), self.files)

    def test_twenty_lists_in_two_accounts_share_the_reminders(self):
        per_list = collections.Counter(os.path.dirname(p) for p in self.items)
        self.assertEqual(len(per_list), 20)
        self.assertEqual({p.split(os.sep)[0] for p in per_list},
                         {"personal", "fastmail"})
        self.assertEqual(set(per_list.values()), {100})
        for folder in per_list:
            self.assertIn(os.path.join(folder, "displayname"), self.files)
            self.assertRegex(self.files[os.path.join(folder, "color")].decode(),
                             r"^#[0-9A-F]{6}(FF)?$")

    def test_the_mix_of_a_real_store(self):
        todos = [main_todo(text) for text in self.items.values()]
        def share(pattern):
            return sum(bool(re.search(pattern, t, re.M)) for t in todos) / len(todos)
        self.assertAlmostEqual(share(r"^STATUS:(COMPLETED|CANCELLED)"), 0.20, delta=0.03)
        self.assertAlmostEqual(share(r"^DUE[;:]"), 0.60, delta=0.03)
        self.assertAlmostEqual(share(r"^RRULE:"), 0.25, delta=0.03)
        self.assertAlmostEqual(share(r"^BEGIN:VALARM"), 0.15, delta=0.03)
        for form in [r"^DUE;VALUE=DATE:\d{8}\r$", r"^DUE:\d{8}T\d{6}Z\r$",
                     r"^DUE:\d{8}T\d{6}\r$", r"^DUE;TZID=[\w/]+:\d{8}T\d{6}\r$"]:
            self.assertGreater(share(form), 0.03, form)
        for frequency in ["SECONDLY", "MINUTELY", "HOURLY", "DAILY", "WEEKLY",
                          "MONTHLY", "YEARLY"]:
            self.assertGreater(share("^RRULE:FREQ=" + frequency), 0, frequency)
        self.assertGreater(share(r"^SUMMARY:.*[^\x00-\x7f]"), 0.1)
        overridden = sum("RECURRENCE-ID" in t for t in self.items.values())
        self.assertGreater(overridden, 0)
        with_zone = [t for t in self.items.values() if "BEGIN:VTIMEZONE" in t]
        self.assertTrue(with_zone)
        for text in with_zone:
            tzid = re.search(r"^TZID:(.*)\r$", text, re.M).group(1)
            self.assertIn("DUE;TZID=%s:" % tzid, text)

    def test_files_are_named_and_written_as_their_programs_do(self):
        for path, text in self.items.items():
            name = os.path.basename(path)
            if path.startswith("personal"):
                self.assertRegex(name, r"^[0-9a-f]{32}@bench\.ics$")
            else:
                self.assertRegex(name, r"^[0-9A-F-]{36}\.ics$")
            self.assertIn("UID:" + name[:-4] + "\r\n", text)
            self.assertTrue(text.endswith("END:VCALENDAR\r\n"))
            self.assertNotIn("\n", text.replace("\r\n", ""))
            for line in text.split("\r\n"):
                self.assertLessEqual(len(line.encode("utf-8")), 75, line)


if __name__ == "__main__":
    unittest.main()
