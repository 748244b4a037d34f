#include "store/ical_zone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

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

}  // namespace
}  // namespace corvane
