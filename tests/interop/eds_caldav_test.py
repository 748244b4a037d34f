"""corvane on a CalDAV task list that the GNOME desktop's store keeps.

A Radicale server runs on 127.0.0.1, open to anyone (EDS here has no
password to give it); a private session bus, with a private home and XDG
folders, starts Evolution Data Server, whose CalDAV backend keeps one task
list of the server, as a list added in GNOME's settings would be kept.
What the server holds reaches corvane through EDS, and what corvane
completes or deletes reaches the server.

Run as: eds_caldav_test.py <path of corvane>
"""

import os
import subprocess
import time
import unittest

import interop_support as support
from interop_support import data_of, ical, properties_named

REGISTRY = "/usr/libexec/evolution-source-registry"
SOURCE = "radicale-tasks"
LIST = "eds:" + SOURCE
BREAD = ical("UID:bread-2c9d", "DTSTAMP:20261201T080000Z",
             "SUMMARY:Bake bread", "DUE;VALUE=DATE:20261205",
             "X-INTEROP-KEEP:yes")
MILK = ical("UID:milk/7f3a", "DTSTAMP:20261201T080000Z", "SUMMARY:Buy milk")


class EdsCalDav(unittest.TestCase):

    def setUp(self):
        support.require("radicale", "dbus-daemon")
        module = os.path.join(os.path.dirname(support.corvane_path()),
                              "corvane-eds.so")
        for needed in (REGISTRY, module):
            if not os.path.exists(needed):
                reason = f"not there: {needed}"
                if os.environ.get("CI") == "true":
                    raise AssertionError(reason + "; CI must run this suite")
                raise unittest.SkipTest(reason)
        self.sandbox = support.Sandbox()
        self.addCleanup(self.sandbox.close)
        self.server = support.Radicale(self.sandbox.path("server"),
                                       open_to_all=True)
        os.makedirs(self.server.folder)
        self.addCleanup(self.server.stop)
        self.server.start()
        self.server.make_calendar("alice", "tasks", "Tasks", "#FF8000")
        self.server.put("alice", "tasks/bread.ics", BREAD)
        self.server.put("alice", "tasks/milk.ics", MILK)

        # The list as EDS keeps a CalDAV list made in its settings: under
        # the built-in "CalDAV" source, read by the registry when it starts.
        self.sandbox.write(
            f"config/evolution/sources/{SOURCE}.source",
            "[Data Source]\nDisplayName=Radicale tasks\nEnabled=true\n"
            "Parent=caldav-stub\n\n[Task List]\nBackendName=caldav\n"
            "Color=#ff8000\nSelected=true\n\n[Authentication]\n"
            f"Host=127.0.0.1\nPort={self.server.port}\nMethod=none\n\n"
            "[Security]\nMethod=none\n\n[WebDAV Backend]\n"
            "ResourcePath=/alice/tasks/\n")
        runtime = self.sandbox.path("runtime")
        os.makedirs(runtime, mode=0o700)
        # The bus gives the daemons it starts its own environment.
        started = subprocess.run(
            ["dbus-daemon", "--session", "--fork", "--print-address=1",
             "--print-pid=1"], capture_output=True, text=True, check=True,
            env=self.sandbox.environment(XDG_RUNTIME_DIR=runtime))
        address, pid = started.stdout.split("\n")[:2]
        self.addCleanup(os.kill, int(pid), 15)
        self.bus = {"DBUS_SESSION_BUS_ADDRESS": address,
                    "XDG_RUNTIME_DIR": runtime}
        # EDS runs before corvane does, as in a desktop session: corvane
        # uses it only where it already runs.
        subprocess.run(
            ["dbus-send", "--bus=" + address, "--print-reply",
             "--reply-timeout=20000",
             "--dest=org.gnome.evolution.dataserver.Sources5", "/",
             "org.freedesktop.DBus.Peer.Ping"],
            capture_output=True, check=True, timeout=30,
            env=self.sandbox.environment(XDG_RUNTIME_DIR=runtime))

    def corvane(self, *args):
        return self.sandbox.corvane(*args, **self.bus)

    def records(self):
        """The list's reminders by title, once EDS has fetched them from
        the server (its first sync runs beside corvane's first reads)."""
        deadline = time.monotonic() + 60
        while True:
            records = data_of(self.corvane("reminders", LIST))
            if len(records) == 2 or time.monotonic() > deadline:
                return {record["title"]: record for record in records}
            time.sleep(0.5)

    def test_the_server_s_tasks_reach_corvane_and_changes_reach_the_server(self):
        listed = [record for record in data_of(self.corvane("list"))
                  if record["calendarIdentifier"] == LIST]
        self.assertEqual(listed, [{
            "calendarIdentifier": LIST, "title": "Radicale tasks", "type": 1,
            "allowsContentModifications": True,
            "source": {"title": "CalDAV", "sourceType": 2},
            "color": "#FF8000"}])

        records = self.records()
        self.assertEqual(sorted(records), ["Bake bread", "Buy milk"])
        self.assertEqual(records["Bake bread"]["dueDate"],
                         "2026-12-05T00:00:00Z")
        self.assertEqual(records["Buy milk"]["id"], LIST + "/milk%2F7f3a")

        self.assertEqual(
            self.corvane("toggle", records["Bake bread"]["id"], "true"),
            {"success": True})
        status, bread = self.server.get("alice", "tasks/bread.ics")
        self.assertEqual(status, 200)
        self.assertEqual(properties_named(bread, "STATUS"),
                         ["STATUS:COMPLETED"])
        self.assertEqual(properties_named(bread, "PERCENT-COMPLETE"),
                         ["PERCENT-COMPLETE:100"])
        self.assertEqual(properties_named(bread, "X-INTEROP-KEEP"),
                         ["X-INTEROP-KEEP:yes"])

        self.assertEqual(self.corvane("delete", records["Buy milk"]["id"]),
                         {"success": True})
        self.assertEqual(self.server.item_names("alice", "tasks"),
                         ["bread.ics"])


if __name__ == "__main__":
    support.main()
