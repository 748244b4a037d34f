#include "store/ical/ical_zone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "store/zones/database_zone.h"

namespace corvane {
namespace {

using namespace std::chrono;

std::string vtimezone(const std::string& name, const std::string& offset) {
  return "BEGIN:VTIMEZONE\r\nTZID:" + name +
         "\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:" + offset +
         "\r\nTZOFFSETTO:" + offset +
         "\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
}

TEST(IcalZoneTest, ZoneFromTextPlacesLocalTimes) {
  auto zone = icalZoneFromText(vtimezone("Test/Plus5", "+0500"));
  ASSERT_TRUE(zone);
  auto instant = zone->instantFor({2024, 7, 5, 12, 0, 0});
  ASSERT_TRUE(instant);
  EXPECT_EQ(*instant, sys_days{2024y / 7 / 5} + 7h);
}

TEST(IcalZoneTest, SameTextSharesOneZone) {
  auto first = icalZoneFromText(vtimezone("Test/Shared", "-0330"));
  auto second = icalZoneFromText(vtimezone("Test/Shared", "-0330"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, icalZoneFromText(vtimezone("Test/Shared", "-0300")));
}

TEST(IcalZoneTest, ZoneWithOffsetsOfADayIsNotShared) {
  // libical reads "-04900" as 49 hours behind; such zones answer according
  // to what they were asked before, so each item keeps its own.
  auto first = icalZoneFromText(vtimezone("Test/Odd", "-04900"));
  auto second = icalZoneFromText(vtimezone("Test/Odd", "-04900"));
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
}

TEST(IcalZoneTest, TextThatIsNoZoneGivesNone) {
  EXPECT_FALSE(icalZoneFromText("BEGIN:VTODO\r\nUID:x\r\nEND:VTODO\r\n"));
  EXPECT_FALSE(icalZoneFromText("BEGIN:VTIMEZONE\r\nEND:VTIMEZONE\r\n"));
  EXPECT_FALSE(icalZoneFromText("not calendar text"));
}

TEST(IcalZoneTest, NamedZonesComeFromTheDatabase) {
  auto tokyo = icalZoneFor(nullptr, "Asia/Tokyo");
  ASSERT_TRUE(tokyo);
  EXPECT_EQ(tokyo->instantFor({2024, 1, 1, 9, 0, 0}),
            sys_days{2024y / 1 / 1} + 0h);
  EXPECT_FALSE(icalZoneFor(nullptr, "Nowhere/Atlantis"));
}

TEST(IcalZoneTest, FileZonesResolveClockChangesLikeTheDatabase) {
  // Central European rules as calendar programs write them, from 1970.
  auto file = icalZoneFromText(
      "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"
      "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
      "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
      "END:DAYLIGHT\r\n"
      "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
      "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
      "END:STANDARD\r\nEND:VTIMEZONE\r\n");
  auto database = databaseZone("Europe/Berlin");
  ASSERT_TRUE(file && database);
  // Every quarter hour of 2026, the skipped and the repeated hour included.
  for (int day = 0; day < 365; ++day) {
    year_month_day date{sys_days{2026y / 1 / 1} + days{day}};
    for (int minute = 0; minute < 24 * 60; minute += 15) {
      LocalDateTime local{2026,
                          static_cast<int>(unsigned{date.month()}),
                          static_cast<int>(unsigned{date.day()}),
                          minute / 60,
                          minute % 60,
                          0};
      ASSERT_EQ(file->instantFor(local), database->instantFor(local))
          << unsigned{date.month()} << "-" << unsigned{date.day()} << " "
          << minute / 60 << ":" << minute % 60;
    }
  }
  // 02:30 on 29 March does not happen: 03:30 summer time. 02:30 on
  // 25 October happens twice: the first, still summer time.
  EXPECT_EQ(file->instantFor({2026, 3, 29, 2, 30, 0}),
            sys_days{2026y / 3 / 29} + 1h + 30min);
  EXPECT_EQ(file->instantFor({2026, 10, 25, 2, 30, 0}),
            sys_days{2026y / 10 / 25} + 0h + 30min);
}

}  // namespace
}  // namespace corvane
