"""corvane's store synced with a CalDAV server by vdirsyncer.

A Radicale server runs on 127.0.0.1 for the whole suite, with a temporary
storage folder and no authentication; each test works as a user of its own,
so that its collections are its own. Reminders put on the server, or made
with todoman in a second vdir (a phone, say) and uploaded from there, reach
the corvane store with `vdirsyncer sync` and `metasync`; what corvane
completes, reopens or deletes reaches the server with the next sync, and a
fresh pull from the server into an empty vdir shows it.

Run as: caldav_sync_test.py <path of corvane>
"""

import json
import os
import unittest

import interop_support as support
from interop_support import BERLIN_ZONE, data_of, ical, properties_named

STAMPS = ("DTSTAMP:20261201T080000Z", "CREATED:20261120T080000Z",
          "LAST-MODIFIED:20261201T080000Z")
ALARM = "\r\n".join(["BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:Milk",
                     "TRIGGER:-PT30M", "END:VALARM"])

# What the server holds at the start of most tests: user path -> text.
MILK = ical("UID:milk-7f3a", *STAMPS, "SUMMARY:Buy milk",
            "DESCRIPTION:Two litres\\nthe organic one", "PRIORITY:1",
            "DUE;TZID=Europe/Berlin:20270115T090000", "X-INTEROP-KEEP:yes",
            ALARM, extra_components=BERLIN_ZONE)
BREAD = ical("UID:bread-2c9d", *STAMPS, "SUMMARY:Bake bread",
             "DUE;VALUE=DATE:20261205", "STATUS:COMPLETED",
             "COMPLETED:20261205T170000Z", "PERCENT-COMPLETE:100")
REPORT = ical("UID:report-91be", *STAMPS, "SUMMARY:Rapport über Q4 – 提出",
              "DUE:20270301T160000Z", "PRIORITY:5",
              "RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=WE,MO;COUNT=5")
PLAIN = ical("UID:plain-44aa", *STAMPS, "SUMMARY:Sort the cupboard")
LUNCH = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//interop//test//EN\r\n"
         "BEGIN:VEVENT\r\nUID:lunch-0b1c\r\nDTSTAMP:20261201T080000Z\r\n"
         "SUMMARY:Team lunch\r\nDTSTART:20261211T113000Z\r\n"
         "DTEND:20261211T130000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")


class SyncedStore(unittest.TestCase):
    """One Radicale server for the class; a sandbox and a server user for
    each test, with vdirsyncer pairs from the server to the corvane store
    ("corvane"), to a second vdir ("phone") and to an empty vdir ("fresh")."""

    server = None

    @classmethod
    def setUpClass(cls):
        support.require("radicale", "vdirsyncer", "todoman")
        cls.server_sandbox = support.Sandbox()
        cls.addClassCleanup(cls.server_sandbox.close)
        cls.server = support.Radicale(cls.server_sandbox.base)
        cls.addClassCleanup(cls.server.stop)
        cls.server.start()

    def setUp(self):
        self.user = self.id().rsplit(".", 1)[-1].replace("test_", "")[:40]
        self.sandbox = support.Sandbox("Europe/Berlin")
        self.addCleanup(self.sandbox.close)
        self.phone = self.sandbox.path("phone")
        self.fresh_home = self.sandbox.path("fresh")
        os.makedirs(self.phone)
        os.makedirs(os.path.join(self.fresh_home, "corvane", "radicale"))
        # The account folder says what it is, as the user's guide suggests.
        self.sandbox.write("data/corvane/radicale/kind", "caldav\n")
        self.sandbox.write("data/corvane/radicale/displayname", "Radicale\n")
        pairs = {"corvane": os.path.join(self.sandbox.root, "radicale"),
                 "phone": self.phone,
                 "fresh": os.path.join(self.fresh_home, "corvane", "radicale")}
        lines = ["[general]",
                 f'status_path = "{self.sandbox.path("vdirsyncer-status")}/"']
        for pair, path in pairs.items():
            lines += ["", f"[pair {pair}]", f'a = "{pair}_local"',
                      f'b = "{pair}_remote"', 'collections = ["from b"]',
                      'metadata = ["color", "displayname"]',
                      "", f"[storage {pair}_local]", 'type = "filesystem"',
                      f'path = "{path}/"', 'fileext = ".ics"',
                      "", f"[storage {pair}_remote]", 'type = "caldav"',
                      f'url = "{self.server.url}"',
                      f'username = "{self.user}"', 'password = "secret"']
        self.config = self.sandbox.write("config/vdirsyncer/config",
                                         "\n".join(lines) + "\n")
        # todoman works on the phone's vdir.
        self.sandbox.write("config/todoman/config.py", "\n".join([
            f'path = "{self.phone}/*"', 'date_format = "%Y-%m-%d"',
            'time_format = "%H:%M"', "default_due = 0", ""]))

    # --- tools -------------------------------------------------------------

    def vdirsyncer(self, *args):
        completed = self.sandbox.run(
            [support.tool("vdirsyncer"), "-c", self.config, *args],
            input_text="y\n" * 20)  # yes: create the local collections
        return completed.stderr.decode("utf-8") + completed.stdout.decode()

    def pull(self, pair):
        """The first sync of a pair: discover, sync, metasync."""
        self.vdirsyncer("discover", pair)
        self.vdirsyncer("sync", pair)
        self.vdirsyncer("metasync", pair)

    def todoman(self, *args):
        argv = [support.tool("todoman"), *args]
        return self.sandbox.run(argv).stdout.decode("utf-8")

    def put_items(self):
        self.server.make_calendar(self.user, "shopping", "Shopping",
                                  "#FF8000FF")
        self.server.make_calendar(self.user, "work", "Büro & Co",
                                  "#1E90FF", components=("VTODO", "VEVENT"))
        for path, text in (("shopping/milk-on-server.ics", MILK),
                           ("shopping/bread-on-server.ics", BREAD),
                           ("work/report-on-server.ics", REPORT),
                           ("work/plain-on-server.ics", PLAIN),
                           ("work/lunch-on-server.ics", LUNCH)):
            self.server.put(self.user, path, text)

    def lists(self, data_home=None):
        return {entry["calendarIdentifier"]: entry for entry in
                data_of(self.sandbox.corvane("list", data_home=data_home))}

    def records(self, data_home=None):
        """Every reminder of every list, by title."""
        records = {}
        for identifier in self.lists(data_home):
            envelope = self.sandbox.corvane("reminders", identifier,
                                            data_home=data_home)
            for record in data_of(envelope, identifier):
                records[record["title"]] = record
        return records

    def server_item(self, collection, uid):
        """The text the server holds for the item with `uid`; absent when
        it holds none."""
        for name in self.server.item_names(self.user, collection):
            status, text = self.server.get(self.user, f"{collection}/{name}")
            if status == 200 and f"\nUID:{uid}\n" in text.replace("\r\n", "\n"):
                return text
        return None

    # --- tests -------------------------------------------------------------

    def test_reminders_put_on_the_server_reach_corvane(self):
        self.put_items()
        self.pull("corvane")

        lists = self.lists()
        self.assertEqual(set(lists), {"radicale/shopping", "radicale/work"})
        shopping, work = lists["radicale/shopping"], lists["radicale/work"]
        self.assertEqual((shopping["title"], shopping["color"]),
                         ("Shopping", "#FF8000"))
        self.assertEqual((work["title"], work["color"]), ("Büro & Co",
                                                           "#1E90FF"))
        for entry in lists.values():
            self.assertEqual(entry["type"], 1)  # caldav
            self.assertEqual(entry["source"], {"title": "Radicale",
                                               "sourceType": 2})
            self.assertTrue(entry["allowsContentModifications"])

        records = self.records()
        # The event is synced too, but is no reminder.
        self.assertEqual(set(records), {"Buy milk", "Bake bread",
                                        "Rapport über Q4 – 提出",
                                        "Sort the cupboard"})
        milk = records["Buy milk"]
        self.assertEqual(milk["calendar"], "radicale/shopping")
        self.assertTrue(milk["id"].startswith("radicale/shopping/"))
        self.assertEqual(milk["notes"], "Two litres\nthe organic one")
        self.assertEqual(milk["priority"], 1)
        self.assertEqual(milk["dueDate"], "2027-01-15T08:00:00Z")
        self.assertTrue(milk["hasAlarms"])
        self.assertFalse(milk["isCompleted"])
        self.assertEqual(milk["creationDate"], "2026-11-20T08:00:00Z")
        self.assertEqual(milk["lastModifiedDate"], "2026-12-01T08:00:00Z")
        bread = records["Bake bread"]
        self.assertTrue(bread["isCompleted"])
        # A date without a time of day starts at local midnight (Berlin).
        self.assertEqual(bread["dueDate"], "2026-12-04T23:00:00Z")
        report = data_of(self.sandbox.corvane(
            "get", records["Rapport über Q4 – 提出"]["id"]))
        self.assertEqual(report["recurrenceDescription"],
                         "Every 2 weeks on Monday, Wednesday")
        self.assertEqual(report["recurrenceEndDetails"], "for 5 occurrences")
        self.assertEqual(report["calendar"], "radicale/work")
        plain = records["Sort the cupboard"]
        self.assertIsNone(plain["dueDate"])
        self.assertEqual((plain["priority"], plain["notes"]), (0, ""))

        event_files = [name for name in
                       os.listdir(os.path.join(self.sandbox.root, "radicale",
                                               "work"))
                       if name.endswith(".ics") and "lunch" in name]
        self.assertEqual(len(event_files), 1, "vdirsyncer synced the event")
        event = self.sandbox.corvane("get", "radicale/work/" +
                                     event_files[0][:-len(".ics")])
        self.assertEqual(event, {"success": False,
                                 "error": "Reminder not found"})

    def test_metasync_brings_new_names_and_colours(self):
        self.put_items()
        self.pull("corvane")
        self.server.set_properties(self.user, "shopping", "Groceries",
                                   "#00AA00")
        self.server.set_properties(self.user, "work", "Arbeit", "#123456FF")
        self.vdirsyncer("metasync", "corvane")
        lists = self.lists()
        self.assertEqual((lists["radicale/shopping"]["title"],
                          lists["radicale/shopping"]["color"]),
                         ("Groceries", "#00AA00"))
        self.assertEqual((lists["radicale/work"]["title"],
                          lists["radicale/work"]["color"]),
                         ("Arbeit", "#123456"))

    def test_reminders_from_a_second_vdir_reach_corvane(self):
        self.server.make_calendar(self.user, "family", "Family", "#AA00AA")
        self.pull("phone")
        self.todoman("new", "-l", "Family", "--due", "2027-02-03 19:45",
                     "--priority", "high", "Geburtstagskuchen 🎂 backen")
        self.todoman("new", "-l", "Family", "--due", "2027-02-04",
                     "--location", "Garage", "Fix the bike")
        self.todoman("new", "-l", "Family", "Without a date")
        phone = {todo["summary"]: todo for todo in json.loads(self.todoman(
            "--porcelain", "list", "--status", "ANY"))}
        self.todoman("done", str(phone["Without a date"]["id"]))
        phone = {todo["summary"]: todo for todo in json.loads(self.todoman(
            "--porcelain", "list", "--status", "ANY"))}
        self.vdirsyncer("sync", "phone")

        self.pull("corvane")
        self.assertEqual(self.lists()["radicale/family"]["color"], "#AA00AA")
        records = self.records()
        self.assertEqual(set(records), set(phone))
        for summary, todo in phone.items():
            with self.subTest(summary=summary):
                record = records[summary]
                self.assertEqual(record["calendar"], "radicale/family")
                self.assertEqual(record["priority"], todo["priority"])
                self.assertEqual(record["isCompleted"], todo["completed"])
                self.assertEqual(record["notes"], todo["description"])
                if todo["due"] is None:
                    self.assertIsNone(record["dueDate"])
                else:
                    self.assertEqual(support.instant_of(record["dueDate"]),
                                     todo["due"])

    def test_changes_reach_the_server_a_fresh_pull_and_the_phone(self):
        self.put_items()
        self.pull("corvane")
        self.pull("phone")
        records = self.records()
        untouched_before = self.server_item("work", "report-91be")

        for title, flag in (("Buy milk", "true"), ("Bake bread", "false")):
            self.assertEqual(self.sandbox.corvane(
                "toggle", records[title]["id"], flag), {"success": True})
        self.assertEqual(self.sandbox.corvane(
            "delete", records["Sort the cupboard"]["id"]), {"success": True})
        self.vdirsyncer("sync", "corvane")

        # The server holds the changes, and only them.
        milk = self.server_item("shopping", "milk-7f3a")
        self.assertEqual(properties_named(milk, "STATUS"),
                         ["STATUS:COMPLETED"])
        self.assertEqual(len(properties_named(milk, "COMPLETED")), 1)
        self.assertEqual(properties_named(milk, "PERCENT-COMPLETE"),
                         ["PERCENT-COMPLETE:100"])
        for kept in ("DUE", "SUMMARY", "DESCRIPTION", "PRIORITY", "UID",
                     "CREATED", "X-INTEROP-KEEP", "TRIGGER", "TZID"):
            self.assertEqual(properties_named(milk, kept),
                             properties_named(MILK, kept), kept)
        self.assertEqual(properties_named(milk, "DUE"),
                         ["DUE;TZID=Europe/Berlin:20270115T090000"])
        bread = self.server_item("shopping", "bread-2c9d")
        self.assertEqual(properties_named(bread, "STATUS"),
                         ["STATUS:NEEDS-ACTION"])
        self.assertEqual(properties_named(bread, "COMPLETED"), [])
        self.assertEqual(properties_named(bread, "PERCENT-COMPLETE"), [])
        self.assertIsNone(self.server_item("work", "plain-44aa"))
        self.assertEqual(self.server_item("work", "report-91be"),
                         untouched_before)
        self.assertIsNotNone(self.server_item("work", "lunch-0b1c"))
        # Nothing is left to do: corvane's files made no conflict.
        self.assertNotIn("Copying", self.vdirsyncer("sync", "corvane"))

        # A fresh pull into an empty vdir shows what corvane shows.
        self.sandbox.write("fresh/corvane/radicale/kind", "caldav\n")
        self.sandbox.write("fresh/corvane/radicale/displayname", "Radicale\n")
        self.pull("fresh")
        after = self.records()
        self.assertTrue(after["Buy milk"]["isCompleted"])
        self.assertFalse(after["Bake bread"]["isCompleted"])
        self.assertNotIn("Sort the cupboard", after)
        self.assertEqual(self.records(data_home=self.fresh_home), after)
        self.assertEqual(self.lists(data_home=self.fresh_home), self.lists())
        gone = self.sandbox.corvane("get", records["Sort the cupboard"]["id"],
                                    data_home=self.fresh_home)
        self.assertEqual(gone, {"success": False,
                                "error": "Reminder not found"})

        # And the phone gets it with its next sync.
        self.vdirsyncer("sync", "phone")
        phone = {todo["summary"]: todo for todo in json.loads(self.todoman(
            "--porcelain", "list", "--status", "ANY"))}
        self.assertEqual(set(phone), {"Buy milk", "Bake bread",
                                      "Rapport über Q4 – 提出"})
        self.assertTrue(phone["Buy milk"]["completed"])
        self.assertEqual(phone["Buy milk"]["percent"], 100)
        self.assertFalse(phone["Bake bread"]["completed"])
        self.assertIsNone(phone["Bake bread"]["completed_at"])


    def test_a_completed_occurrence_and_the_moved_series_reach_the_server(self):
        self.put_items()
        self.pull("corvane")
        report = self.records()["Rapport über Q4 – 提出"]
        self.assertEqual(self.sandbox.corvane("toggle", report["id"], "true"),
                         {"success": True})
        self.vdirsyncer("sync", "corvane")

        # The series moved on from Monday 1 March to Wednesday 3 March, with
        # one occurrence fewer left; the rest of it as it was.
        series = self.server_item("work", "report-91be")
        self.assertEqual(properties_named(series, "DUE"),
                         ["DUE:20270303T160000Z"])
        self.assertEqual(properties_named(series, "RRULE"),
                         ["RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=WE,MO;COUNT=4"])
        self.assertEqual(properties_named(series, "STATUS"), [])
        for kept in ("SUMMARY", "PRIORITY", "CREATED"):
            self.assertEqual(properties_named(series, kept),
                             properties_named(REPORT, kept), kept)
        # Beside it, the Monday's occurrence, completed and not repeating.
        done = [self.server.get(self.user, f"work/{name}")[1]
                for name in self.server.item_names(self.user, "work")]
        done = [text for text in done if "STATUS:COMPLETED" in text]
        self.assertEqual(len(done), 1)
        self.assertEqual(properties_named(done[0], "DUE"),
                         ["DUE:20270301T160000Z"])
        self.assertEqual(properties_named(done[0], "SUMMARY"),
                         properties_named(REPORT, "SUMMARY"))
        self.assertEqual(properties_named(done[0], "RRULE"), [])

        # A fresh pull shows both as corvane does.
        self.sandbox.write("fresh/corvane/radicale/kind", "caldav\n")
        self.sandbox.write("fresh/corvane/radicale/displayname", "Radicale\n")
        self.pull("fresh")

        def seen(data_home=None):
            return sorted(
                (record["title"], record["isCompleted"], record["dueDate"])
                for identifier in self.lists(data_home)
                for record in data_of(self.sandbox.corvane(
                    "reminders", identifier, data_home=data_home)))
        self.assertIn(("Rapport über Q4 – 提出", True, "2027-03-01T16:00:00Z"),
                      seen())
        self.assertIn(("Rapport über Q4 – 提出", False, "2027-03-03T16:00:00Z"),
                      seen())
        self.assertEqual(seen(data_home=self.fresh_home), seen())

if __name__ == "__main__":
    support.main()
