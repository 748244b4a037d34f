#include "store/ical/series_move.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/calendar_text.h"

namespace corvane {
namespace {

enum class Outcome { kMoved, kEnds, kRefused };

// How the set that RDATE, EXDATE and COUNT make decides the next
// occurrence; the end-to-end tests show the common series.
TEST(SeriesMoveTest, NextOccurrenceOfTheWholeSet) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;
    Outcome outcome;
    std::vector<std::string> movedLines;  // lines the moved series has
  };
  const std::vector<Case> cases = {
      {"an excluded date still counts towards COUNT",
       {"DTSTART:20260105T080000Z", "RRULE:FREQ=DAILY;COUNT=5",
        "EXDATE:20260106T080000Z"},
       Outcome::kMoved,
       {"DTSTART:20260107T080000Z", "RRULE:FREQ=DAILY;COUNT=3"}},
      {"COUNT used up by excluded dates",
       {"DTSTART:20260105T080000Z", "RRULE:FREQ=DAILY;COUNT=2",
        "EXDATE:20260106T080000Z"},
       Outcome::kEnds,
       {}},
      {"an extra date before the rule's next, moved to in the start's zone",
       {"DTSTART;TZID=Europe/Berlin:20260105T090000",
        "RRULE:FREQ=WEEKLY;BYDAY=MO;COUNT=4", "RDATE:20260107T080000Z"},
       Outcome::kMoved,
       {"DTSTART;TZID=Europe/Berlin:20260107T090000",
        "RRULE:FREQ=WEEKLY;BYDAY=MO;COUNT=3"}},
      {"extra dates alone",
       {"DUE;VALUE=DATE:20260105", "RDATE;VALUE=DATE:20260110,20260101"},
       Outcome::kMoved,
       {"DUE;VALUE=DATE:20260110"}},
      {"the last extra date",
       {"DUE;VALUE=DATE:20260110", "RDATE;VALUE=DATE:20260105,20260110"},
       Outcome::kEnds,
       {}},
      {"a rule that a later start would change is not moved",
       {"DTSTART:20260105T080000Z", "RRULE:FREQ=WEEKLY",
        "RDATE:20260107T080000Z"},
       Outcome::kRefused,
       {}},
      {"an override of an occurrence stays, the series is the other VTODO",
       {"DTSTART:20260105T080000Z", "RRULE:FREQ=DAILY",
        "END:VTODO\r\nBEGIN:VTODO\r\nUID:s\r\n"
        "RECURRENCE-ID:20260106T080000Z\r\nDTSTART:20260106T100000Z"},
       Outcome::kMoved,
       {"DTSTART:20260106T080000Z", "RECURRENCE-ID:20260106T080000Z",
        "DTSTART:20260106T100000Z"}},
      {"KDE's pointer to the occurrence moves with the start, unfolded",
       {"DTSTART;TZID=Europe/Berlin:20260105T090000",
        "DUE;TZID=Europe/Berlin:20260105T100000", "RRULE:FREQ=DAILY;COUNT=3",
        "X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME;TZID=Europe/Berlin:\r\n"
        " 20260105T090000"},
       Outcome::kMoved,
       {"X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME;TZID=Europe/Berlin:"
        "20260106T090000"}},
      {"KDE's pointer to a day is its midnight",
       {"DUE;VALUE=DATE:20260105", "RRULE:FREQ=DAILY",
        "X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME;TZID=Europe/Berlin:"
        "20260105T000000"},
       Outcome::kMoved,
       {"X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME;TZID=Europe/Berlin:"
        "20260106T000000"}},
      {"KDE's pointer in another zone moves by as much",
       {"DTSTART:20260105T090000", "RRULE:FREQ=WEEKLY",
        "X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME;TZID=Etc/UTC:"
        "20260105T090000"},
       Outcome::kMoved,
       {"X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME;TZID=Etc/UTC:"
        "20260112T090000"}},
  };
  const Instant now{std::chrono::sys_days{std::chrono::year{2026} / 2 / 1}};
  for (const Case& c : cases) {
    auto move =
        completeOccurrence(todoText("s", "Series", c.lines), "new-uid", now);
    if (c.outcome == Outcome::kRefused) {
      ASSERT_FALSE(move) << c.name;
      EXPECT_NE(move.reason().find("without changing when it repeats"),
                std::string::npos)
          << c.name << ": " << move.reason();
      continue;
    }
    ASSERT_TRUE(move) << c.name << ": " << move.reason();
    ASSERT_EQ(move.value().has_value(), c.outcome == Outcome::kMoved) << c.name;
    if (!move.value()) continue;
    for (const auto& line : c.movedLines)
      EXPECT_NE(move.value()->series.find("\r\n" + line + "\r\n"),
                std::string::npos)
          << c.name << ": " << line << "\n"
          << move.value()->series;
    EXPECT_NE(move.value()->occurrence.find("\r\nUID:new-uid\r\n"),
              std::string::npos)
        << c.name;
    // A completed occurrence does not repeat, so it points at nothing.
    EXPECT_EQ(move.value()->occurrence.find("X-KDE-LIBKCAL"), std::string::npos)
        << c.name;
  }
}

}  // namespace
}  // namespace corvane
