#include "tests/akonadi_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace corvane::e2e {

Environment ownEnvironment() {
  Environment environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    if (auto equals = text.find('='); equals != std::string::npos)
      environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  return environment;
}

std::string fixtureValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

const std::string& collection() {
  static const std::string id = fixtureValue("AKONADI_TEST_COLLECTION");
  return id;
}

RunResult seed(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"akonadi_seed"};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(AKONADI_SEED, argv, ownEnvironment());
}

std::string create(const std::string& text) {
  RunResult made = seed({"create", collection(), text});
  EXPECT_EQ(made.exitStatus, 0) << made.err << text;
  return made.out.substr(0, made.out.find('\n'));
}

Stored stored(const std::string& item) {
  RunResult read = seed({"read", item});
  if (read.exitStatus != 0) return {};
  std::string text;
  std::ranges::copy_if(read.out, std::back_inserter(text),
                       [](char c) { return c != '\r'; });
  auto end = text.find('\n');
  return {true, std::atoi(text.substr(0, end).c_str()), text.substr(end + 1)};
}

bool holds(const std::string& text, const std::string& line) {
  return ("\n" + text + "\n").find("\n" + line + "\n") != std::string::npos;
}
bool holdsLineStarting(const std::string& text, const std::string& start) {
  return ("\n" + text).find("\n" + start) != std::string::npos;
}

std::string fileTodo(const std::string& uid) {
  std::ifstream in(fixtureValue("AKONADI_TEST_FILE"));
  std::string text, line, todo;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "BEGIN:VTODO") todo.clear();
    todo += line + "\n";
    if (line == "END:VTODO" && holds(todo, "UID:" + uid)) return todo;
  }
  return "";
}

bool within(double seconds, const std::function<bool()>& ready) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

std::vector<std::string> idsOf(const Json& records) {
  std::vector<std::string> ids;
  for (const auto& record : records) ids.push_back(record.value("id", "?"));
  return ids;
}

}  // namespace corvane::e2e
