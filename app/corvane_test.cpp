#include "app/corvane.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "tests/memory_store.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// The current time of every run here.
constexpr Instant kNow = std::chrono::sys_days{2024y / 3 / 5} + 14h + 7min + 9s;

// Runs one command against a memory store and keeps what it printed and
// on which thread. The output fails (out of memory) for the first
// `failingPieces` pieces it is handed.
class CorvaneRun {
 public:
  explicit CorvaneRun(std::function<void(MemoryStore&)> setUp = {},
                      int failingPieces = 0)
      : failingPieces_(failingPieces) {
    auto store = std::make_unique<MemoryStore>();
    store_ = store.get();
    if (setUp) setUp(*store_);
    app_ = std::make_unique<Corvane>(
        std::move(store),
        [this](std::string_view piece, bool ends) {
          std::lock_guard guard(mutex_);
          if (failingPieces_ > 0) {
            --failingPieces_;
            throw std::bad_alloc();
          }
          pending_ += piece;
          if (!ends) return;
          printed_.push_back(std::move(pending_));
          pending_.clear();
          printedOn_ = std::this_thread::get_id();
        },
        [] { return kNow; });
  }

  nlohmann::json run(const std::string& command,
                     const std::vector<std::string>& args = {}) {
    app_->run(command, args);
    std::lock_guard guard(mutex_);
    EXPECT_EQ(printed_.size(), 1u) << command;
    EXPECT_EQ(pending_, "") << command;
    if (printed_.size() != 1) return nullptr;
    EXPECT_EQ(printed_[0].back(), '\n');
    return nlohmann::json::parse(printed_[0]);
  }

  const std::string& text() const { return printed_.at(0); }
  std::thread::id printedOn() const { return printedOn_; }
  MemoryStore& store() { return *store_; }

 private:
  int failingPieces_;
  MemoryStore* store_;
  std::unique_ptr<Corvane> app_;
  std::mutex mutex_;
  std::vector<std::string> printed_;
  std::string pending_;  // pieces of an envelope not yet ended
  std::thread::id printedOn_;
};

nlohmann::json failure(const std::string& message) {
  return {{"success", false}, {"error", message}};
}

TEST(CorvaneTest, ArgumentErrors) {
  const std::string reminders =
      "List ID is required for 'reminders' command. Usage: reminders "
      "<list_id> [completion_status] [sort_by]";
  const std::string toggle =
      "Reminder ID and completion status are required for 'toggle' command";
  const std::string special =
      "Special list ID is required. Usage: special_reminders <list_id> "
      "[completion_status] [sort_by]";
  struct Case {
    std::string command;
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {"reminders", {}, reminders},
      {"special_reminders", {}, special},
      {"toggle", {}, toggle},
      {"toggle", {"r"}, toggle},
      {"toggle", {"r", "true", "x"}, toggle},
      {"delete", {}, "Reminder ID is required for 'delete' command"},
      {"delete", {"a", "b"}, "Reminder ID is required for 'delete' command"},
      {"get", {}, "Reminder ID is required for 'get' command"},
      {"get", {"a", "b"}, "Reminder ID is required for 'get' command"},
      {"LIST", {}, "Unknown command: LIST"},
      {"", {}, "Unknown command: "},
      {"a/b", {"x"}, "Unknown command: a/b"},
      {"Liste ✓", {}, "Unknown command: Liste ✓"},
  };
  for (const auto& c : cases) {
    CorvaneRun run;
    EXPECT_EQ(run.run(c.command, c.args), failure(c.error)) << c.command;
  }
}

TEST(CorvaneTest, UnknownWordEnvelopeIsPrettyPrinted) {
  CorvaneRun run;
  run.run("a/b");
  EXPECT_EQ(run.text(),
            "{\n  \"success\" : false,\n  \"error\" : \"Unknown command: "
            "a\\/b\"\n}\n");
}

TEST(CorvaneTest, ListIgnoresExtraWords) {
  CorvaneRun run([](MemoryStore& store) {
    ReminderList list;
    list.identifier = "acc/l";
    list.title = "L";
    list.color = RgbColor{1.0, 0.5, 0.0};
    store.addList(list);
  });
  auto printed = run.run("list", {"extra", "words"});
  ASSERT_EQ(printed["data"].size(), 1u);
  EXPECT_EQ(printed["data"][0]["color"], "#FF8000");
  EXPECT_EQ(printed["success"], true);
}

TEST(CorvaneTest, ToggleFlagIsTrueOnlyForExactTrue) {
  for (const auto& [word, expected] :
       std::vector<std::pair<std::string, bool>>{{"true", true},
                                                 {"True", false},
                                                 {"TRUE", false},
                                                 {"1", false},
                                                 {"yes", false},
                                                 {"", false},
                                                 {"false", false}}) {
    CorvaneRun run([](MemoryStore& store) {
      Reminder reminder;
      reminder.identifier = "a/l/r";
      reminder.isCompleted = true;
      store.addReminder(reminder);
    });
    EXPECT_EQ(run.run("toggle", {"a/l/r", word}),
              nlohmann::json({{"success", true}}));
    EXPECT_EQ(run.store().reminders()[0]->isCompleted, expected) << word;
  }
}

TEST(CorvaneTest, QueriesPassDefaultsAndLowerCaseTheSortKey) {
  auto setUp = [](MemoryStore& store) {
    ReminderList list;
    list.identifier = "a/l";
    store.addList(list);
    for (int i = 0; i < 3; ++i) {
      Reminder reminder;
      reminder.identifier = "a/l/" + std::to_string(i);
      reminder.calendarIdentifier = "a/l";
      reminder.isCompleted = i == 1;
      reminder.creationDate = Instant{std::chrono::seconds{1000 * (i + 1)}};
      store.addReminder(reminder);
    }
  };
  auto ids = [](const nlohmann::json& printed) {
    std::vector<std::string> result;
    for (const auto& record : printed["data"]) result.push_back(record["id"]);
    return result;
  };
  {
    CorvaneRun run(setUp);
    EXPECT_EQ(ids(run.run("reminders", {"a/l"})),
              (std::vector<std::string>{"a/l/0", "a/l/1", "a/l/2"}));
    EXPECT_NE(run.printedOn(), std::this_thread::get_id());
  }
  {
    CorvaneRun run(setUp);
    EXPECT_EQ(ids(run.run("reminders", {"a/l", "Incomplete", "CREATED"})),
              (std::vector<std::string>{"a/l/2", "a/l/0"}));
  }
  {
    CorvaneRun run(setUp);
    EXPECT_EQ(run.run("reminders", {"nope"}),
              failure("List not found with ID: nope"));
    EXPECT_EQ(run.store().fetchCount(), 0);
  }
}

TEST(CorvaneTest, AccessAnswers) {
  {
    CorvaneRun run([](MemoryStore& store) { store.setGrant(false); });
    EXPECT_EQ(run.run("request_access"), nlohmann::json({{"success", false}}));
    EXPECT_NE(run.printedOn(), std::this_thread::get_id());
  }
  {
    CorvaneRun run;
    EXPECT_EQ(run.run("request_access", {"ignored"}),
              nlohmann::json({{"success", true}}));
  }
  for (auto [status, word] :
       std::vector<std::pair<int, std::string>>{{0, "notDetermined"},
                                                {1, "restricted"},
                                                {2, "denied"},
                                                {3, "authorized"},
                                                {4, "writeOnly"},
                                                {7, "unknown"}}) {
    CorvaneRun run([status](MemoryStore& store) {
      store.setStatus(static_cast<AuthorizationStatus>(status));
    });
    EXPECT_EQ(run.run("check_permission_status"),
              nlohmann::json({{"success", true}, {"data", {{"status", word}}}}))
        << status;
  }
}

TEST(CorvaneTest, SingleReminderCommands) {
  auto setUp = [](MemoryStore& store) {
    Reminder reminder;
    reminder.identifier = "a/l/r";
    reminder.title = "T";
    store.addReminder(reminder);
  };
  CorvaneRun get(setUp);
  auto printed = get.run("get", {"a/l/r"});
  EXPECT_TRUE(printed["data"].is_object());
  EXPECT_EQ(printed["data"]["title"], "T");
  // No creation date: the record shows the current time, the run's clock's.
  EXPECT_EQ(printed["data"]["creationDate"], "2024-03-05T14:07:09Z");

  CorvaneRun missing(setUp);
  EXPECT_EQ(missing.run("get", {"a/l/x"}), failure("Reminder not found"));

  CorvaneRun refused([](MemoryStore& store) {
    Reminder reminder;
    reminder.identifier = "a/l/r";
    store.addReminder(reminder);
    store.failChanges("The list folder is read-only.");
  });
  EXPECT_EQ(refused.run("delete", {"a/l/r"}),
            failure("Error deleting reminder: The list folder is read-only."));
}

// A command that fails by an exception (out of memory), on the main thread
// or in a completion handler on a store's: one document, the command's own
// failure, and `run` returns (a run that throws or hangs fails the test,
// one that ends the process ends it).
TEST(CorvaneTest, ExceptionsGiveTheCommandsOwnFailure) {
  auto withList = [](MemoryStore& store) {
    ReminderList list;
    list.identifier = "a/l";
    store.addList(list);
  };
  auto throwing = [&](MemoryStore& store) {
    withList(store);
    store.throwFromCalls();
  };
  const nlohmann::json refused = {{"success", false}};
  const auto unfetched = failure("Unable to fetch reminders");
  const auto noMemory = failure("Cannot allocate memory");
  struct Case {
    std::vector<std::string> words;
    std::function<void(MemoryStore&)> setUp;
    int failingPieces;
    nlohmann::json expected;
  } cases[] = {
      {{"list"}, withList, 1, noMemory},
      {{"reminders", "a/l"}, withList, 1, unfetched},
      {{"special_reminders", "today"}, withList, 1, unfetched},
      {{"request_access"}, withList, 1, refused},
      {{"check_permission_status"}, withList, 1, noMemory},
      {{"delete"},
       withList,
       1,
       failure("Reminder ID is required for 'delete' command")},
      {{"list"}, throwing, 0, noMemory},
      {{"get", "a/l/r"}, throwing, 0, failure("Reminder not found")},
      {{"toggle", "a/l/r", "true"},
       throwing,
       0,
       failure("Error updating reminder: Cannot allocate memory")},
      {{"delete", "a/l/r"},
       throwing,
       0,
       failure("Error deleting reminder: Cannot allocate memory")},
      {{"reminders", "a/l"}, throwing, 0, unfetched},
      {{"request_access"}, throwing, 0, refused},
  };
  for (const auto& c : cases) {
    CorvaneRun run(c.setUp, c.failingPieces);
    std::vector<std::string> args(c.words.begin() + 1, c.words.end());
    EXPECT_EQ(run.run(c.words[0], args), c.expected)
        << c.words[0] << " failing pieces " << c.failingPieces;
  }
}

}  // namespace
}  // namespace corvane
