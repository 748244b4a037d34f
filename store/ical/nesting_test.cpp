#include "store/ical/nesting.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

// An item whose components nest `depth` deep (the calendar counted), with
// `begin` and `end` as the lines that open and close each alarm.
std::string nested(int depth, const std::string& begin = "BEGIN:VALARM\r\n",
                   const std::string& end = "END:VALARM\r\n") {
  std::string text = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:deep\r\n";
  for (int i = 2; i < depth; ++i) text += begin;
  for (int i = 2; i < depth; ++i) text += end;
  return text + "END:VTODO\r\nEND:VCALENDAR\r\n";
}

TEST(Nesting, DeeperThanAnyCalendarProgramHoweverTheLinesAreWritten) {
  std::string carriageReturns = nested(65);
  std::erase(carriageReturns, '\n');
  const struct {
    const char* name;
    std::string text;
    bool tooDeep;
  } cases[] = {
      {"as deep as calendar programs could want", nested(64), false},
      {"twice so", nested(64) + nested(64), false},
      {"many components, each closed before the next",
       nested(80, "BEGIN:VALARM\r\nEND:VALARM\r\n", ""), false},
      {"one level more", nested(65), true},
      {"line feeds alone", nested(65, "BEGIN:VALARM\n", "END:VALARM\n"), true},
      {"carriage returns alone", carriageReturns, true},
      {"folded names",
       nested(65, "BEG\r\n IN\r\n\t:VALARM\r\n", "END:VALARM\r\n"), true},
      {"lower case, parameters",
       nested(65, "begin;x=1:valarm\r\n", "end:valarm\r\n"), true},
      {"never closed", nested(65, "BEGIN:X\r\n", ""), true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(nestsTooDeep(c.text), c.tooDeep) << c.name;
}

}  // namespace
}  // namespace corvane
