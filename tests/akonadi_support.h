// What the Akonadi end-to-end tests share: the fixture's private Akonadi
// (tests/akonadi_session.sh) as this process finds it, and the other
// client (tests/akonadi_seed.cpp) that makes, reads and changes its to-dos.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace corvane::e2e {

// This process's environment: the fixture's private bus and folders.
Environment ownEnvironment();

// The fixture's variable `name`; "" where it is not set.
std::string fixtureValue(const char* name);

// The fixture's to-do collection that the tests change, as Akonadi
// numbers it.
const std::string& collection();

// Runs the other client with `args`.
RunResult seed(const std::vector<std::string>& args);

// A to-do item made in the fixture's collection from `text`; its id.
std::string create(const std::string& text);

// An item as Akonadi holds it; found false when it is not there.
struct Stored {
  bool found = false;
  int revision = -1;
  std::string payload;  // line ends dropped: one "\n" between lines
};
Stored stored(const std::string& item);

// The "id" of each record, in order.
std::vector<std::string> idsOf(const Json& records);

// Whether `text` holds the whole line `line`, or a line starting `start`.
bool holds(const std::string& text, const std::string& line);
bool holdsLineStarting(const std::string& text, const std::string& start);

// The VTODO of the file the resource writes whose UID is `uid`; "" when
// there is none.
std::string fileTodo(const std::string& uid);

// Whether `ready` holds within `seconds`: what the resource writes to its
// file comes some time after Akonadi answered.
bool within(double seconds, const std::function<bool()>& ready);

}  // namespace corvane::e2e
