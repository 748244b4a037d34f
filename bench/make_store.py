#!/usr/bin/python3
"""Writes a vdir of N reminders shaped like the stores people really keep.

Two accounts (a local one and a CalDAV one synced by vdirsyncer) hold 20
lists between them, and the reminders are dealt out to the lists in turn,
so every list holds N/20 of them. The mix: about 20% completed, 60% with a
DUE (a date, UTC, a TZID with its VTIMEZONE, a TZID without one, floating),
25% repeating with every frequency, 15% with an alarm, notes of every
length, titles in several scripts and a few overridden occurrences.

The same seed and anchor give the same bytes. Dates lie around the anchor
day (default a fixed day; the benchmark passes today's), so that "today"
finds overdue reminders and leaves future ones out.

  make_store.py --root DIR --count N [--seed S] [--anchor YYYY-MM-DD]
"""

import argparse
import datetime
import os
import random
import sys
import uuid

LISTS_PER_ACCOUNT = 10

# (directory, displayname, kind, file naming, PRODID)
ACCOUNTS = [
    ("personal", "Personal", "local", "todoman", "io.barrera.todoman"),
    ("fastmail", "Fastmail", "caldav", "vdirsyncer",
     "-//Nextcloud Tasks v0.15.0"),
]

LIST_TITLES = [
    "Inbox", "Work", "Einkäufe", "Garden", "Работа", "家事", "Books to read",
    "Side project", "Travel ✈", "Errands", "Tasks", "Family", "Finances",
    "Çalışma", "Renovation", "Πρότζεκτ", "Health", "Learning", "Ideas",
    "Someday",
]

WORDS = [
    "call", "email", "buy", "fix", "read", "write", "plan", "book", "pay",
    "renew", "clean", "order", "review", "send", "check", "water", "return",
    "dentist", "invoice", "report", "tickets", "groceries", "passport",
    "plants", "bike", "car", "taxes", "slides", "meeting", "birthday", "gift",
    "library", "insurance", "backup", "laptop", "garage", "paint", "kitchen",
]
FOREIGN_TITLES = [
    "Milch und Brötchen kaufen", "Позвонить маме", "牛乳を買う",
    "Préparer la réunion", "Zahnarzttermin für Jürgen", "Оплатить счёт",
    "歯医者の予約", "Ελέγξτε το email", "Çiçekleri sula", "Geburtstag 🎂 Oma",
    "Pagar la factura de la luz", "Kjøpe gave til Åse",
]
NOTE_SENTENCES = [
    "Remember to bring the receipt.",
    "Ask about the discount; they offered one last time.",
    "Code for the gate is 4711, door on the left.",
    "See the thread from Tuesday, or call if unsure.",
    "Nicht vergessen: die Unterlagen mitbringen.",
    "Список: хлеб, молоко, сыр.",
    "詳細はメールを確認してください。",
    "Links: https://example.org/path?query=1 and C:\\Users\\me\\file.txt",
]

ZONES_WITH_VTIMEZONE = ["Europe/Berlin", "America/New_York"]
ZONES_WITHOUT_VTIMEZONE = ["Europe/London", "Asia/Tokyo", "America/Chicago"]

VTIMEZONES = {
    "Europe/Berlin": [
        "BEGIN:VTIMEZONE", "TZID:Europe/Berlin",
        "BEGIN:DAYLIGHT", "TZOFFSETFROM:+0100", "TZOFFSETTO:+0200",
        "TZNAME:CEST", "DTSTART:19700329T020000",
        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", "END:DAYLIGHT",
        "BEGIN:STANDARD", "TZOFFSETFROM:+0200", "TZOFFSETTO:+0100",
        "TZNAME:CET", "DTSTART:19701025T030000",
        "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU", "END:STANDARD",
        "END:VTIMEZONE",
    ],
    "America/New_York": [
        "BEGIN:VTIMEZONE", "TZID:America/New_York",
        "BEGIN:DAYLIGHT", "TZOFFSETFROM:-0500", "TZOFFSETTO:-0400",
        "TZNAME:EDT", "DTSTART:19700308T020000",
        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU", "END:DAYLIGHT",
        "BEGIN:STANDARD", "TZOFFSETFROM:-0400", "TZOFFSETTO:-0500",
        "TZNAME:EST", "DTSTART:19701101T020000",
        "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU", "END:STANDARD",
        "END:VTIMEZONE",
    ],
}

WEEKDAYS = ["SU", "MO", "TU", "WE", "TH", "FR", "SA"]


def escape_text(text):
    return (text.replace("\\", "\\\\").replace(";", "\\;")
            .replace(",", "\\,").replace("\n", "\\n"))


def fold(line):
    """Folds a content line at 75 octets without splitting a character."""
    data = line.encode("utf-8")
    if len(data) <= 75:
        return [line]
    parts, start, limit = [], 0, 75
    while start < len(data):
        end = min(start + limit, len(data))
        while end < len(data) and (data[end] & 0xC0) == 0x80:
            end -= 1
        parts.append(data[start:end].decode("utf-8"))
        start, limit = end, 74  # continuation lines start with a blank
    return [parts[0]] + [" " + part for part in parts[1:]]


def stamp(moment):
    return moment.strftime("%Y%m%dT%H%M%SZ")


def local(moment):
    return moment.strftime("%Y%m%dT%H%M%S")


class Generator:
    def __init__(self, seed, anchor):
        self.rng = random.Random(seed)
        self.anchor = datetime.datetime.combine(anchor, datetime.time(12, 0))

    def uid(self):
        return uuid.UUID(int=self.rng.getrandbits(128), version=4)

    def moment(self, days_before, days_after):
        offset = self.rng.uniform(-days_before, days_after)
        moment = self.anchor + datetime.timedelta(days=offset)
        return moment.replace(microsecond=0)

    def title(self):
        if self.rng.random() < 0.2:
            return self.rng.choice(FOREIGN_TITLES)
        words = self.rng.sample(WORDS, self.rng.randint(1, 5))
        text = " ".join(words).capitalize()
        if self.rng.random() < 0.1:
            text += ", then " + self.rng.choice(WORDS)
        return text

    def notes(self):
        roll = self.rng.random()
        if roll < 0.5:
            return None
        count = 1 if roll < 0.8 else self.rng.randint(2, 12)
        if roll > 0.98:
            count = self.rng.randint(30, 60)  # the odd pasted e-mail
        sentences = [self.rng.choice(NOTE_SENTENCES) for _ in range(count)]
        separator = "\n" if self.rng.random() < 0.5 else " "
        return separator.join(sentences)

    def due(self, zones_used):
        """The DUE line, or None: 60% of reminders have one."""
        if self.rng.random() >= 0.6:
            return None
        moment = self.moment(60, 120)
        kind = self.rng.random()
        if kind < 0.25:
            return "DUE;VALUE=DATE:" + moment.strftime("%Y%m%d")
        if kind < 0.65:
            return "DUE:" + stamp(moment)
        if kind < 0.80:
            zone = self.rng.choice(ZONES_WITH_VTIMEZONE)
            zones_used.add(zone)
            return "DUE;TZID=%s:%s" % (zone, local(moment))
        if kind < 0.90:
            zone = self.rng.choice(ZONES_WITHOUT_VTIMEZONE)
            return "DUE;TZID=%s:%s" % (zone, local(moment))
        return "DUE:" + local(moment)

    def rrule(self):
        """An RRULE line, or None: 25% repeat, with every frequency."""
        if self.rng.random() >= 0.25:
            return None
        roll = self.rng.random()
        if roll < 0.30:
            parts = ["FREQ=DAILY"]
        elif roll < 0.60:
            parts = ["FREQ=WEEKLY"]
            shape = self.rng.random()
            if shape < 0.3:
                parts.append("BYDAY=MO,TU,WE,TH,FR")
            elif shape < 0.4:
                parts.append("BYDAY=SA,SU")
            elif shape < 0.8:
                days = self.rng.sample(WEEKDAYS, self.rng.randint(1, 3))
                parts.append("BYDAY=" + ",".join(days))
        elif roll < 0.80:
            parts = ["FREQ=MONTHLY"]
            if self.rng.random() < 0.6:
                days = self.rng.sample([1, 5, 10, 15, 20, 28, -1], 2)
                parts.append("BYMONTHDAY=" + ",".join(map(str, days)))
        elif roll < 0.95:
            parts = ["FREQ=YEARLY"]
            if self.rng.random() < 0.6:
                parts.append("BYMONTH=%d" % self.rng.randint(1, 12))
        else:
            parts = ["FREQ=" + self.rng.choice(["HOURLY", "MINUTELY",
                                                "SECONDLY"])]
        if self.rng.random() < 0.4:
            parts.append("INTERVAL=%d" % self.rng.randint(2, 6))
        end = self.rng.random()
        if end < 0.2:
            parts.append("COUNT=%d" % self.rng.randint(1, 20))
        elif end < 0.35:
            parts.append("UNTIL=" + stamp(self.moment(-200, 600)))
        return "RRULE:" + ";".join(parts)

    def todo(self, uid, due, rule, recurrence_id=None):
        created = self.moment(700, 0)
        modified = created + datetime.timedelta(
            seconds=self.rng.randint(0, 3600 * 24 * 200))
        lines = ["BEGIN:VTODO"]
        if self.rng.random() < 0.97:
            lines.append("CREATED:" + stamp(created))
        lines.append("DTSTAMP:" + stamp(modified))
        if self.rng.random() < 0.95:
            lines.append("LAST-MODIFIED:" + stamp(modified))
        lines.append("UID:" + uid)
        if recurrence_id:
            lines.append(recurrence_id)
        lines.append("SUMMARY:" + escape_text(self.title()))
        notes = self.notes()
        if notes:
            lines.append("DESCRIPTION:" + escape_text(notes))
        priority = self.rng.choice([None, None, 0, 1, 5, 9, 4, 6])
        if priority is not None:
            lines.append("PRIORITY:%d" % priority)
        if due:
            lines.append(due)
            if rule:
                lines.append("DTSTART" + due[3:])
        if rule and not recurrence_id:
            lines.append(rule)
        roll = self.rng.random()
        if roll < 0.19:
            lines += ["STATUS:COMPLETED", "COMPLETED:" + stamp(modified),
                      "PERCENT-COMPLETE:100"]
        elif roll < 0.20:
            lines.append("STATUS:CANCELLED")
        elif roll < 0.70:
            lines.append("STATUS:NEEDS-ACTION")
        elif roll < 0.75:
            lines += ["STATUS:IN-PROCESS", "PERCENT-COMPLETE:40"]
        if self.rng.random() < 0.1:
            lines.append("CATEGORIES:" + ",".join(self.rng.sample(WORDS, 2)))
        if self.rng.random() < 0.1:
            lines.append("X-APPLE-SORT-ORDER:%d" % self.rng.randint(1, 10**9))
        if self.rng.random() < 0.15:
            lines += ["BEGIN:VALARM", "ACTION:DISPLAY",
                      "TRIGGER;RELATED=END:-PT%dM" % self.rng.choice([5, 15, 60]),
                      "DESCRIPTION:Reminder", "END:VALARM"]
        lines.append("END:VTODO")
        return lines

    def item(self, uid, prodid):
        zones = set()
        due = self.due(zones)
        rule = self.rrule()
        todos = self.todo(uid, due, rule)
        # A few repeating reminders carry one changed occurrence.
        if rule and due and self.rng.random() < 0.04:
            value = due.split(":", 1)[1]
            head = due.split(":", 1)[0].replace("DUE", "RECURRENCE-ID", 1)
            todos += self.todo(uid, due, rule, head + ":" + value)
        lines = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:" + prodid]
        for zone in sorted(zones):
            lines += VTIMEZONES[zone]
        lines += todos
        lines.append("END:VCALENDAR")
        folded = [part for line in lines for part in fold(line)]
        return "\r\n".join(folded) + "\r\n"


def write_text(path, text):
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write(text)


def make_store(root, count, seed, anchor):
    generator = Generator(seed, anchor)
    lists = []
    for account, title, kind, naming, prodid in ACCOUNTS:
        account_dir = os.path.join(root, account)
        os.makedirs(account_dir, exist_ok=True)
        write_text(os.path.join(account_dir, "displayname"), title + "\n")
        write_text(os.path.join(account_dir, "kind"), kind + "\n")
        for index in range(LISTS_PER_ACCOUNT):
            list_title = LIST_TITLES[len(lists)]
            if naming == "todoman":
                name = "list%02d" % index
            else:
                name = str(generator.uid()).upper()
            list_dir = os.path.join(account_dir, name)
            os.makedirs(list_dir, exist_ok=True)
            write_text(os.path.join(list_dir, "displayname"), list_title)
            color = "#%06X" % generator.rng.getrandbits(24)
            if naming == "vdirsyncer":
                color += "FF"  # what Nextcloud hands vdirsyncer
            write_text(os.path.join(list_dir, "color"), color)
            lists.append((list_dir, naming, prodid))
    for number in range(count):
        list_dir, naming, prodid = lists[number % len(lists)]
        if naming == "todoman":
            uid = generator.uid().hex + "@bench"
        else:
            uid = str(generator.uid()).upper()
        write_text(os.path.join(list_dir, uid + ".ics"),
                   generator.item(uid, prodid))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--anchor", default="2026-06-01",
                        type=datetime.date.fromisoformat)
    args = parser.parse_args()
    if args.count < 0:
        parser.error("--count must not be negative")
    make_store(args.root, args.count, args.seed, args.anchor)
    return 0


if __name__ == "__main__":
    sys.exit(main())
