// For tests: the calendar texts that tests write into items, lines ended by
// CRLF; written once for the unit and the end-to-end tests (a header alone:
// it needs nothing linked).
#pragma once

#include <string>
#include <vector>

namespace corvane {

// A calendar object: VERSION and PRODID, then `components` (whole lines).
inline std::string calendarText(const std::string& components) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//corvane tests//EN\r\n" +
         components + "END:VCALENDAR\r\n";
}

// A VTODO component holding `properties` (whole lines).
inline std::string todoComponent(const std::string& properties) {
  return "BEGIN:VTODO\r\n" + properties + "END:VTODO\r\n";
}

// A VTODO with a UID and a time stamp, as calendar programs write one, and
// then `properties` (whole lines).
inline std::string stampedTodo(const std::string& properties) {
  return todoComponent("UID:9f1c@host\r\nDTSTAMP:20240301T120000Z\r\n" +
                       properties);
}

// A calendar object holding one VTODO. `lines` are placed inside the VTODO
// after UID (left out when `uid` is empty) and SUMMARY.
inline std::string todoText(const std::string& uid, const std::string& summary,
                            const std::vector<std::string>& lines = {}) {
  std::string properties;
  if (!uid.empty()) properties += "UID:" + uid + "\r\n";
  properties += "SUMMARY:" + summary + "\r\n";
  for (const auto& line : lines) properties += line + "\r\n";
  return calendarText(todoComponent(properties));
}

}  // namespace corvane
