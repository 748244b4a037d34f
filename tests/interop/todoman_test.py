"""corvane and todoman on one store.

Reminders made with `todoman new` are printed by corvane with the values
that `todoman --porcelain` reports; what corvane completes, reopens or
deletes shows so in todoman, and nothing else that todoman reports changes.

Run as: todoman_test.py <path of corvane>
"""

import json
import os
import time
import unittest

import interop_support as support
from interop_support import BERLIN_ZONE, data_of, ical, instant_of

# The fields of todoman's porcelain records that completing or reopening
# may change; every other one must stay as it was.
COMPLETION_FIELDS = {"completed", "completed_at", "percent"}
# todoman numbers tasks in its cache and gives a task a new number whenever
# its file was written by another program (a plain `touch` does the same),
# so the number of a changed task says nothing about its content.
CACHE_FIELDS = {"id"}

TASKS = "Tasks"
ERRANDS = "Besorgungen – Stadt"  # todoman names lists by display name


class TodomanStore:
    """A store with two lists that todoman is configured to use; the time
    zone is the class's `zone`, for todoman and corvane alike."""

    zone = "UTC"

    def setUp(self):
        support.require("todoman")
        self.sandbox = support.Sandbox(self.zone)
        self.addCleanup(self.sandbox.close)
        self.sandbox.write("data/corvane/acct/tasks/displayname", TASKS + "\n")
        self.sandbox.write("data/corvane/acct/errands/displayname",
                           ERRANDS + "\n")
        # default_due 0: a task made without --due has no due date.
        self.sandbox.write("config/todoman/config.py", "\n".join([
            f'path = "{self.sandbox.root}/*/*"',
            'date_format = "%Y-%m-%d"',
            'time_format = "%H:%M"',
            f'default_list = "{TASKS}"',
            "default_due = 0", ""]))

    def todoman(self, *args, notes=None):
        """Runs todoman; with `notes`, `-r` reads them from standard input."""
        argv = [support.tool("todoman"), *args]
        return self.sandbox.run(argv, input_text=notes).stdout.decode("utf-8")

    def new(self, list_name, summary, *options, notes=None):
        args = ["new", "-l", list_name, *options]
        if notes is not None:
            args.append("-r")
        self.todoman(*args, summary, notes=notes)

    def porcelain(self):
        """todoman's records of every task, by summary."""
        todos = json.loads(self.todoman("--porcelain", "list", "--status",
                                        "ANY"))
        by_summary = {todo["summary"]: todo for todo in todos}
        self.assertEqual(len(by_summary), len(todos), "summaries must differ")
        return by_summary

    def id_of(self, summary):
        return todoman_id(self.porcelain(), summary)

    def list_titles(self):
        """corvane's lists: identifier to title."""
        return {entry["calendarIdentifier"]: entry["title"]
                for entry in data_of(self.sandbox.corvane("list"), "list")}

    def records(self):
        """corvane's records of every reminder of every list, by title."""
        records = {}
        for identifier in self.list_titles():
            envelope = self.sandbox.corvane("reminders", identifier)
            for record in data_of(envelope, identifier):
                self.assertNotIn(record["title"], records)
                records[record["title"]] = record
        return records

    def assert_same_values(self, todo, record, titles):
        summary = todo["summary"]
        self.assertEqual(record["title"], summary)
        self.assertEqual(record["notes"], todo["description"], summary)
        self.assertEqual(record["priority"], todo["priority"], summary)
        self.assertEqual(record["isCompleted"], todo["completed"], summary)
        self.assertEqual(titles[record["calendar"]], todo["list"], summary)
        if todo["due"] is None:
            self.assertIsNone(record["dueDate"], summary)
        else:
            self.assertIsNotNone(record["dueDate"], summary)
            self.assertEqual(instant_of(record["dueDate"]), todo["due"],
                             f"{summary}: {record['dueDate']}")


def todoman_id(todos, summary):
    return str(todos[summary]["id"])


def without(record, fields):
    return {key: value for key, value in record.items() if key not in fields}


class ReadingTodomanStore(TodomanStore):
    """What todoman writes, corvane reads with the same values."""

    def test_corvane_prints_what_todoman_reports(self):
        self.new(TASKS, "Call the plumber", "--due", "2027-03-04 18:30",
                 "--priority", "high", notes="Before noon.\nAsk for Ines.")
        self.new(TASKS, "Pay the rent", "--due", "2027-03-05",
                 "--priority", "low")
        self.new(TASKS, "Stand-up", "--due", "07:45", "--priority", "medium")
        self.new(TASKS, "Renew the passport", "--due", "tomorrow")
        # Across the change to summer time in most zones that have one.
        self.new(TASKS, "Summer time", "--due", "2027-07-01 09:00")
        self.new(ERRANDS, "Café – Grüße aus Köln 日本語 🎉", "--priority",
                 "none", "--location", "Marktplatz",
                 notes="Zwei Brötchen,\nein Käse.\n\nDanach: 🚲")
        self.new(ERRANDS, "Without a due date")
        self.new(ERRANDS, "Done already", "--due", "2026-01-02 03:04")
        self.new(ERRANDS, "Cancelled", "--due", "2026-02-03")
        todos = self.porcelain()
        self.todoman("done", todoman_id(todos, "Done already"))
        self.todoman("cancel", todoman_id(todos, "Cancelled"))

        # Items as a server or another client writes them: a zone by name,
        # a floating time, a completion date without a status.
        tasks = "data/corvane/acct/tasks/"
        stamps = ("DTSTAMP:20260101T000000Z", "CREATED:20260101T000000Z",
                  "LAST-MODIFIED:20260102T000000Z")
        self.sandbox.write(tasks + "zoned.ics", support.ical(
            "UID:zoned@interop", *stamps,
            "SUMMARY:Zoned in Berlin",
            "DUE;TZID=Europe/Berlin:20270115T090000",
            "PRIORITY:1", "DESCRIPTION:Line one\\nLine two\\, with a comma",
            extra_components=BERLIN_ZONE))
        self.sandbox.write(tasks + "floating.ics", support.ical(
            "UID:floating@interop", *stamps,
            "SUMMARY:Floating time", "DUE:20270610T081500"))
        self.sandbox.write(tasks + "completed-date.ics", support.ical(
            "UID:completed-date@interop", *stamps,
            "SUMMARY:Completed by date", "COMPLETED:20260105T100000Z",
            "PRIORITY:7"))

        todos = self.porcelain()
        records = self.records()
        titles = self.list_titles()
        self.assertEqual(set(records), set(todos))
        self.assertEqual(len(todos), 12)
        for summary, todo in todos.items():
            with self.subTest(summary=summary):
                record = records[summary]
                self.assert_same_values(todo, record, titles)
                # get prints the very record the list query printed.
                got = self.sandbox.corvane("get", record["id"])
                self.assertEqual(data_of(got, record["id"]), record)

        # What todoman makes of its input, and what the other items hold,
        # seen from corvane.
        self.assertEqual(records["Zoned in Berlin"]["notes"],
                         "Line one\nLine two, with a comma")
        self.assertEqual(records["Zoned in Berlin"]["dueDate"],
                         "2027-01-15T08:00:00Z")
        self.assertIn("Ask for Ines.", records["Call the plumber"]["notes"])
        self.assertEqual(records["Call the plumber"]["priority"], 4)
        self.assertEqual(records["Pay the rent"]["priority"], 9)
        self.assertEqual(records["Stand-up"]["priority"], 5)
        self.assertTrue(records["Cancelled"]["isCompleted"])
        self.assertTrue(records["Completed by date"]["isCompleted"])

    def test_scheduled_and_today_agree_with_todoman(self):
        self.new(TASKS, "Long overdue", "--due", "2026-01-02 08:00")
        self.new(TASKS, "Far ahead", "--due", "2031-05-06")
        self.new(ERRANDS, "No date")
        self.new(ERRANDS, "Overdue and done", "--due", "2026-01-03")
        todos = self.porcelain()
        self.todoman("done", todoman_id(todos, "Overdue and done"))
        todos = self.porcelain()

        scheduled = data_of(self.sandbox.corvane("special_reminders",
                                                 "scheduled"))
        self.assertEqual({r["title"] for r in scheduled},
                         {s for s, t in todos.items() if t["due"] is not None})
        today = data_of(self.sandbox.corvane("special_reminders", "today"))
        now = time.time()
        self.assertEqual({r["title"] for r in today},
                         {s for s, t in todos.items()
                          if t["due"] is not None and t["due"] <= now
                          and not t["completed"]})


class ReadingInNewYork(ReadingTodomanStore, unittest.TestCase):
    zone = "America/New_York"


class ReadingInKolkata(ReadingTodomanStore, unittest.TestCase):
    zone = "Asia/Kolkata"  # half an hour off the hour, no summer time


class ChangingTodomanStore(TodomanStore, unittest.TestCase):
    """What corvane changes, todoman sees, and nothing else."""

    zone = "Europe/Berlin"

    def make_three(self):
        self.new(TASKS, "First", "--due", "2027-03-04 18:30", "--priority",
                 "high", "--location", "Büro", notes="Zeile eins\nZeile zwei")
        self.new(TASKS, "Second", "--due", "2027-03-05")
        self.new(ERRANDS, "Third")

    def toggle(self, title, flag):
        identifier = self.records()[title]["id"]
        envelope = self.sandbox.corvane("toggle", identifier, flag)
        self.assertEqual(envelope, {"success": True})
        return identifier

    def file_of(self, identifier):
        return os.path.join(self.sandbox.root, identifier + ".ics")

    def test_completing_shows_in_todoman_and_changes_nothing_else(self):
        self.make_three()
        before = self.porcelain()
        self.assertFalse(before["First"]["completed"])
        path = self.file_of(self.records()["First"]["id"])
        mode = os.stat(path).st_mode

        started = int(time.time())
        self.toggle("First", "true")
        finished = int(time.time())

        after = self.porcelain()
        first = after["First"]
        self.assertTrue(first["completed"])
        self.assertEqual(first["percent"], 100)
        self.assertIsNotNone(first["completed_at"])
        self.assertGreaterEqual(first["completed_at"], started)
        self.assertLessEqual(first["completed_at"], finished + 1)
        changeable = COMPLETION_FIELDS | CACHE_FIELDS
        self.assertEqual(without(first, changeable),
                         without(before["First"], changeable))
        # The others were not touched at all: todoman keeps their numbers.
        self.assertEqual(after["Second"], before["Second"])
        self.assertEqual(after["Third"], before["Third"])
        self.assertEqual(os.stat(path).st_mode, mode)

        # Completing what is completed already is no error and no change.
        self.toggle("First", "true")
        again = self.porcelain()["First"]
        self.assertEqual(without(again, {"completed_at", "id"}),
                         without(first, {"completed_at", "id"}))

    def test_reopening_shows_in_todoman_and_todoman_can_go_on(self):
        self.make_three()
        todos = self.porcelain()
        self.todoman("done", todoman_id(todos, "First"))
        self.todoman("cancel", todoman_id(todos, "Second"))
        before = self.porcelain()
        self.assertTrue(before["First"]["completed"])
        self.assertTrue(before["Second"]["completed"])

        self.toggle("First", "false")
        self.toggle("Second", "True")  # anything but "true" reopens

        after = self.porcelain()
        for summary in ("First", "Second"):
            with self.subTest(summary=summary):
                todo = after[summary]
                self.assertFalse(todo["completed"])
                self.assertIsNone(todo["completed_at"])
                self.assertEqual(todo["percent"], 0)
                changeable = COMPLETION_FIELDS | CACHE_FIELDS
                self.assertEqual(without(todo, changeable),
                                 without(before[summary], changeable))
        self.assertEqual(after["Third"], before["Third"])

        # todoman goes on with the file corvane wrote, and corvane with
        # todoman's.
        self.todoman("done", todoman_id(after, "First"))
        self.assertTrue(self.porcelain()["First"]["completed"])
        self.assertTrue(self.records()["First"]["isCompleted"])
        self.todoman("edit", todoman_id(self.porcelain(), "Second"),
                     "--due", "2027-04-01 10:00")
        second = self.records()["Second"]
        self.assertFalse(second["isCompleted"])
        self.assertEqual(instant_of(second["dueDate"]),
                         self.porcelain()["Second"]["due"])

    def test_completing_a_repeating_reminder_moves_it_on_in_todoman(self):
        # Weekly at 10:00 in Berlin; the next week is after the clock change.
        self.sandbox.write("data/corvane/acct/tasks/plants.ics", ical(
            "UID:plants-5e1d", "DTSTAMP:20270301T080000Z",
            "SUMMARY:Water the plants", "PRIORITY:1",
            "DTSTART;TZID=Europe/Berlin:20270322T090000",
            "DUE;TZID=Europe/Berlin:20270322T100000",
            "RRULE:FREQ=WEEKLY;COUNT=3", extra_components=BERLIN_ZONE))

        self.toggle("Water the plants", "true")

        todos = json.loads(self.todoman("--porcelain", "list", "--status",
                                        "ANY"))
        plants = sorted((todo for todo in todos
                         if todo["summary"] == "Water the plants"),
                        key=lambda todo: todo["due"])
        self.assertEqual([(todo["completed"], todo["due"]) for todo in plants],
                         [(True, instant_of("2027-03-22T09:00:00Z")),
                          (False, instant_of("2027-03-29T08:00:00Z"))])
        self.assertEqual(plants[0]["percent"], 100)
        self.assertEqual([todo["priority"] for todo in plants], [1, 1])
        # corvane's own view agrees: the series keeps its identifier.
        series = self.sandbox.corvane("get", "acct/tasks/plants")
        self.assertEqual(data_of(series)["dueDate"], "2027-03-29T08:00:00Z")
        self.assertFalse(data_of(series)["isCompleted"])

    def test_deleting_removes_it_from_todoman_only(self):
        self.make_three()
        before = self.porcelain()
        identifier = self.records()["Second"]["id"]

        envelope = self.sandbox.corvane("delete", identifier)
        self.assertEqual(envelope, {"success": True})

        after = self.porcelain()
        self.assertNotIn("Second", after)
        self.assertEqual(after, {s: t for s, t in before.items()
                                 if s != "Second"})
        self.assertFalse(os.path.exists(self.file_of(identifier)))
        again = self.sandbox.corvane("delete", identifier)
        self.assertEqual(again, {"success": False,
                                 "error": "Reminder not found"})


if __name__ == "__main__":
    support.main()
