"""What the interop suites share.

They run the built corvane beside the real todoman, vdirsyncer and Radicale
from Debian's packages, each in a throw-away folder with an environment that
names everything it may touch, and compare what the tools report. Every
server they start listens on the loopback address only.

A suite is run as `tests/interop/<name>_test.py <path of corvane>`; it exits
with 0 when every test passed, 77 (ctest's "skipped") when every test was
skipped because a tool is missing, and 1 otherwise. Under CI=true a missing
tool is a failure, never a skip.
"""

import base64
import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
from xml.etree import ElementTree
from xml.sax.saxutils import escape

# The programs a suite runs, each looked up here only: Debian installs them
# in /usr/bin, and a PATH with other Pythons first must not change which
# ones run.
TOOL_PATH = "/usr/bin:/bin"
SKIPPED = 77

_corvane = None


def corvane_path():
    return _corvane


def main():
    """Runs the calling suite's tests, taking corvane's path from argv[1]."""
    global _corvane
    if len(sys.argv) < 2:
        print(f"usage: {sys.argv[0]} <path of corvane> [unittest arguments]")
        sys.exit(2)
    _corvane = os.path.abspath(sys.argv.pop(1))
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.skipped and len(result.skipped) >= result.testsRun:
        sys.exit(SKIPPED)
    sys.exit(0)


def require(*tools):
    """Skips the calling test (or class, from setUpClass) when a tool is
    missing, and fails instead under CI=true."""
    if not _corvane or not os.access(_corvane, os.X_OK):
        raise AssertionError(f"no corvane program at {_corvane}")
    missing = [t for t in tools if not shutil.which(t, path=TOOL_PATH)]
    if not missing:
        return
    reason = (f"not installed: {', '.join(missing)} "
              "(scripts/install-deps --test installs what the tests need)")
    if os.environ.get("CI") == "true":
        raise AssertionError(reason + "; CI must run this suite")
    raise unittest.SkipTest(reason)


def tool(name):
    return shutil.which(name, path=TOOL_PATH)


class Sandbox:
    """A temporary folder (mode 0755) holding a data home whose "corvane"
    folder is the store, a home, a configuration and a cache folder; removed
    with everything in it by `close`."""

    def __init__(self, zone="UTC"):
        self.base = tempfile.mkdtemp(prefix="corvane-interop-")
        os.chmod(self.base, 0o755)
        self.zone = zone
        for folder in ("data", "home", "config", "cache"):
            os.makedirs(os.path.join(self.base, folder))

    def close(self):
        shutil.rmtree(self.base, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.base, *parts)

    @property
    def data_home(self):
        return self.path("data")

    @property
    def root(self):
        return self.path("data", "corvane")

    def environment(self, data_home=None, **extra):
        environment = {
            "HOME": self.path("home"),
            "XDG_DATA_HOME": data_home or self.data_home,
            "XDG_CONFIG_HOME": self.path("config"),
            "XDG_CACHE_HOME": self.path("cache"),
            "TZ": self.zone,
            "LC_ALL": "C.UTF-8",
            "PATH": TOOL_PATH,
            "PYTHONDONTWRITEBYTECODE": "1",
        }
        environment.update(extra)
        return environment

    def write(self, path, text, mode=0o644):
        """Writes `text` to `path` (below the base folder), making its
        folders."""
        full = self.path(path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8", newline="") as stream:
            stream.write(text)
        os.chmod(full, mode)
        return full

    def run(self, argv, input_text=None, check=True, **environment):
        """Runs a tool with this sandbox's environment; fails the test with
        its output when it exits with anything but 0 and `check` is set."""
        completed = subprocess.run(
            argv, input=(input_text or "").encode("utf-8"),
            capture_output=True, env=self.environment(**environment),
            cwd=self.base, timeout=120)
        if check and completed.returncode != 0:
            raise AssertionError(
                f"{' '.join(argv)} exited with {completed.returncode}:\n"
                f"{completed.stdout.decode('utf-8', 'replace')}"
                f"{completed.stderr.decode('utf-8', 'replace')}")
        return completed

    def corvane(self, *args, data_home=None, **environment):
        """Runs corvane and returns its envelope, after checking what every
        run must show: exit status 0, nothing on standard error, one JSON
        object followed by one line feed, "success" and at most one of
        "data" and "error"."""
        completed = subprocess.run(
            [_corvane, *args], stdin=subprocess.DEVNULL, capture_output=True,
            env=self.environment(data_home=data_home, **environment),
            timeout=60)
        what = f"corvane {' '.join(args)}"
        if completed.returncode != 0:
            raise AssertionError(f"{what} exited with {completed.returncode}")
        if completed.stderr:
            raise AssertionError(f"{what} wrote to standard error: "
                                 f"{completed.stderr!r}")
        text = completed.stdout.decode("utf-8")
        if not text.endswith("}\n") or text.endswith("\n\n"):
            raise AssertionError(f"{what} printed no single document: "
                                 f"{text!r}")
        envelope = json.loads(text)
        keys = set(envelope)
        if "success" not in keys or not keys <= {"success", "data", "error"} \
                or {"data", "error"} <= keys:
            raise AssertionError(f"{what}: not an envelope: {text}")
        return envelope


def data_of(envelope, what=""):
    if envelope.get("success") is not True or "data" not in envelope:
        raise AssertionError(f"{what} failed: {envelope}")
    return envelope["data"]


def instant_of(text):
    """Seconds since the epoch of corvane's "2024-03-05T14:07:09Z"."""
    moment = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ")
    return int(moment.replace(tzinfo=datetime.timezone.utc).timestamp())


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Radicale:
    """A Radicale CalDAV server on 127.0.0.1 with its storage in `folder`,
    without authentication (any user name logs in and owns the collections
    under its own name; with `open_to_all`, anyone, even without a name,
    may read and write everything). Started by `start`, stopped by
    `stop`."""

    def __init__(self, folder, open_to_all=False):
        self.folder = folder
        self.open_to_all = open_to_all
        self.process = None
        self.port = None
        self.log_path = os.path.join(folder, "radicale.log")

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}/"

    def start(self):
        storage = os.path.join(self.folder, "storage")
        os.makedirs(storage, exist_ok=True)
        # A port found free can be taken before the server binds it; then
        # the server exits and another port is tried.
        for _ in range(5):
            self.port = free_port()
            config = os.path.join(self.folder, "radicale.conf")
            rights = "type = owner_only\n"
            if self.open_to_all:
                rights_file = os.path.join(self.folder, "rights")
                with open(rights_file, "w", encoding="utf-8") as stream:
                    stream.write("[all]\nuser: .*\ncollection: .*\n"
                                 "permissions: RrWw\n")
                rights = f"type = from_file\nfile = {rights_file}\n"
            with open(config, "w", encoding="utf-8") as stream:
                # Its own configuration file, so that the system's (SSL,
                # authentication, rights file) does not apply.
                stream.write(
                    f"[server]\nhosts = 127.0.0.1:{self.port}\n"
                    "[auth]\ntype = none\n"
                    f"[rights]\n{rights}"
                    f"[storage]\nfilesystem_folder = {storage}\n"
                    "[web]\ntype = none\n"
                    "[logging]\nlevel = warning\n")
            log = open(self.log_path, "ab")
            self.process = subprocess.Popen(
                [tool("radicale"), "--config", config],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                env={"PATH": TOOL_PATH, "HOME": self.folder,
                     "PYTHONDONTWRITEBYTECODE": "1"})
            log.close()
            if self._wait_until_answering():
                return
            self.stop()
        raise AssertionError(f"radicale did not start:\n{self.log()}")

    def _wait_until_answering(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return False
            try:
                urllib.request.urlopen(self.url, timeout=2).close()
                return True
            except urllib.error.HTTPError:
                return True  # any HTTP answer means it is serving
            except OSError:
                time.sleep(0.1)
        return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def log(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def request(self, method, path, user, body=None, headers=None):
        """Sends one request as `user`; returns (status, body text)."""
        data = body.encode("utf-8") if isinstance(body, str) else body
        request = urllib.request.Request(self.url + path.lstrip("/"),
                                         data=data, method=method)
        login = base64.b64encode(f"{user}:secret".encode()).decode()
        request.add_header("Authorization", f"Basic {login}")
        for name, value in (headers or {}).items():
            request.add_header(name, value)
        try:
            with urllib.request.urlopen(request, timeout=30) as answer:
                return answer.status, answer.read().decode("utf-8")
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode("utf-8", "replace")

    def make_calendar(self, user, name, displayname, color,
                      components=("VTODO",)):
        comps = "".join(f'<C:comp name="{c}"/>' for c in components)
        status, text = self.request(
            "MKCOL", f"{user}/{name}/", user,
            '<?xml version="1.0" encoding="utf-8"?>'
            '<D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav"'
            ' xmlns:I="http://apple.com/ns/ical/"><D:set><D:prop>'
            "<D:resourcetype><D:collection/><C:calendar/></D:resourcetype>"
            f"<D:displayname>{escape(displayname)}</D:displayname>"
            f"<I:calendar-color>{color}</I:calendar-color>"
            f"<C:supported-calendar-component-set>{comps}"
            "</C:supported-calendar-component-set>"
            "</D:prop></D:set></D:mkcol>",
            {"Content-Type": "application/xml; charset=utf-8"})
        if status != 201:
            raise AssertionError(f"MKCOL {user}/{name}: {status} {text}")

    def set_properties(self, user, name, displayname, color):
        status, text = self.request(
            "PROPPATCH", f"{user}/{name}/", user,
            '<?xml version="1.0" encoding="utf-8"?>'
            '<D:propertyupdate xmlns:D="DAV:"'
            ' xmlns:I="http://apple.com/ns/ical/"><D:set><D:prop>'
            f"<D:displayname>{escape(displayname)}</D:displayname>"
            f"<I:calendar-color>{color}</I:calendar-color>"
            "</D:prop></D:set></D:propertyupdate>",
            {"Content-Type": "application/xml; charset=utf-8"})
        if status != 207:
            raise AssertionError(f"PROPPATCH {user}/{name}: {status} {text}")

    def put(self, user, path, calendar_text):
        status, text = self.request(
            "PUT", f"{user}/{path}", user, calendar_text,
            {"Content-Type": "text/calendar; charset=utf-8",
             "If-None-Match": "*"})
        if status not in (201, 204):
            raise AssertionError(f"PUT {user}/{path}: {status} {text}")

    def get(self, user, path):
        return self.request("GET", f"{user}/{path}", user)

    def item_names(self, user, collection):
        """The file names of the items in a collection."""
        status, text = self.request(
            "PROPFIND", f"{user}/{collection}/", user,
            '<?xml version="1.0"?><D:propfind xmlns:D="DAV:"><D:prop>'
            "<D:getetag/></D:prop></D:propfind>", {"Depth": "1"})
        if status != 207:
            raise AssertionError(f"PROPFIND {user}/{collection}: {status}")
        hrefs = ElementTree.fromstring(text).iter("{DAV:}href")
        return [href.text.rsplit("/", 1)[-1] for href in hrefs
                if href.text and href.text.endswith(".ics")]


def unfolded_lines(calendar_text):
    """The content lines of an iCalendar text, continuation lines joined."""
    lines = []
    for line in calendar_text.replace("\r\n", "\n").split("\n"):
        if line[:1] in (" ", "\t") and lines:
            lines[-1] += line[1:]
        elif line:
            lines.append(line)
    return lines


def properties_named(calendar_text, name):
    """The lines of the properties called `name` (with parameters)."""
    return [line for line in unfolded_lines(calendar_text)
            if line.split(":", 1)[0].split(";", 1)[0].upper() == name]


# Central European time as calendar programs write it, for items whose
# due dates carry TZID=Europe/Berlin.
BERLIN_ZONE = "\r\n".join([
    "BEGIN:VTIMEZONE", "TZID:Europe/Berlin",
    "BEGIN:DAYLIGHT", "TZOFFSETFROM:+0100", "TZOFFSETTO:+0200",
    "DTSTART:19700329T020000", "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU",
    "END:DAYLIGHT",
    "BEGIN:STANDARD", "TZOFFSETFROM:+0200", "TZOFFSETTO:+0100",
    "DTSTART:19701025T030000", "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU",
    "END:STANDARD", "END:VTIMEZONE"]) + "\r\n"


def ical(*vtodo_lines, extra_components=""):
    """A VCALENDAR holding one VTODO made of `vtodo_lines`, CRLF ended."""
    lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//interop//test//EN",
             "BEGIN:VTODO", *vtodo_lines, "END:VTODO"]
    text = "\r\n".join(lines) + "\r\n" + extra_components
    return text + "END:VCALENDAR\r\n"
