// Many corvane processes changing one store at once while another program
// rewrites the same files the way vdirsyncer does (a temporary file renamed
// over the item). Afterwards every item is a whole calendar object, nothing
// is missing that nobody deleted, nobody's change was silently overwritten,
// and every run printed one envelope.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kLists = 3;
constexpr int kPerList = 100;
constexpr int kProcessesAtOnce = 12;
constexpr int kRunsPerProcess = 25;
constexpr int kRewrites = 600;

std::string idOf(int list, int item) {
  return "acct/list" + std::to_string(list) + "/item" + std::to_string(item);
}

std::string summaryOf(const std::string& text) {
  size_t at = text.find("\r\nSUMMARY:");
  if (at == std::string::npos) return "";
  at += 10;
  return text.substr(at, text.find("\r\n", at) - at);
}

TEST(HostileConcurrency, ManyWritersOneStore) {
  TempStore store;
  std::vector<std::string> ids;
  for (int list = 0; list < kLists; ++list)
    for (int item = 0; item < kPerList; ++item) {
      std::string id = idOf(list, item);
      ids.push_back(id);
      store.writeFile(
          id + ".ics",
          todoText("uid-" + std::to_string(list) + "-" + std::to_string(item),
                   "Item " + std::to_string(item),
                   {"DUE:20260101T120000Z", "PRIORITY:5", "CATEGORIES:work",
                    "X-KEEP:yes"}));
    }

  std::mutex mutex;  // guards the records below
  std::set<std::string> deleted;
  std::map<std::string, std::string> lastRewrite;  // id -> summary
  std::vector<RunResult> results;
  std::map<std::string, int> outcomes;
  std::atomic<int> workersLeft{kProcessesAtOnce};

  auto worker = [&](unsigned seed) {
    std::mt19937 random(seed);
    for (int run = 0; run < kRunsPerProcess; ++run) {
      const std::string& id = ids[random() % ids.size()];
      unsigned choice = random() % 10;
      std::vector<std::string> args;
      if (choice < 5)
        args = {"toggle", id, choice % 2 ? "true" : "false"};
      else if (choice < 6)
        args = {"delete", id};
      else if (choice < 8)
        args = {"get", id};
      else
        args = {"reminders", id.substr(0, id.rfind('/')), "all", "deadline"};
      RunResult result = runCorvane(args, store.environment());
      std::lock_guard guard(mutex);
      if (args[0] == "delete" &&
          result.out.find("\"success\" : true") != std::string::npos)
        deleted.insert(id);
      results.push_back(std::move(result));
    }
    --workersLeft;
  };

  // The other program: vdirsyncer-style replacement of whole files.
  int rewrites = 0;
  auto rewriter = [&] {
    std::mt19937 random(99);
    while (rewrites < kRewrites && workersLeft > 0) {
      const std::string& id = ids[random() % ids.size()];
      fs::path file = store.root() / (id + ".ics");
      std::lock_guard guard(mutex);  // so that lastRewrite stays exact
      auto text = readBytes(file);
      if (!text) continue;
      std::string summary = "Rewritten " + std::to_string(rewrites);
      std::string old = summaryOf(*text);
      size_t at = text->find("\r\nSUMMARY:") + 10;
      text->replace(at, old.size(), summary);
      fs::path temporary = file.parent_path() /
                           (".rewrite-" + std::to_string(rewrites) + ".tmp");
      {
        std::ofstream out(temporary, std::ios::binary);
        out << *text;
      }
      fs::rename(temporary, file);
      lastRewrite[id] = summary;
      ++rewrites;
    }
  };

  auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < kProcessesAtOnce; ++i)
    threads.emplace_back(worker, 1000u + static_cast<unsigned>(i));
  threads.emplace_back(rewriter);
  for (auto& thread : threads) thread.join();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();

  // Every run printed one well-formed envelope.
  for (const auto& result : results) {
    Json envelope = envelopeOf(result);
    ASSERT_TRUE(envelope.is_object()) << result.out;
    std::string outcome = envelope["success"] == true
                              ? "success"
                              : envelope["error"].get<std::string>();
    ++outcomes[outcome.substr(0, 60)];
  }

  // Every file is whole, holds the reminder it held, and lost no change.
  int checked = 0, lostChanges = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    const std::string& id = ids[i];
    fs::path file = store.root() / (id + ".ics");
    auto text = readBytes(file);
    if (!text) {
      EXPECT_EQ(deleted.count(id), 1u)
          << id << " is gone, yet nobody deleted it";
      continue;
    }
    ++checked;
    std::string uid;
    ASSERT_TRUE(isWholeTodo(*text, &uid)) << id << ":\n" << *text;
    int list = std::stoi(id.substr(9, 1));
    int item = std::stoi(id.substr(id.rfind("item") + 4));
    EXPECT_EQ(uid, "uid-" + std::to_string(list) + "-" + std::to_string(item));
    EXPECT_NE(text->find("X-KEEP:yes\r\n"), std::string::npos) << id;
    auto rewritten = lastRewrite.find(id);
    std::string expected = rewritten != lastRewrite.end()
                               ? rewritten->second
                               : "Item " + std::to_string(item);
    if (summaryOf(*text) != expected) ++lostChanges;
  }
  EXPECT_EQ(lostChanges, 0) << "another program's change was overwritten";
  for (const auto& name : itemFilesBelow(store.root()))
    EXPECT_EQ(name.filename().string().rfind("item", 0), 0u) << name;

  std::cout << "[ hostile  ] " << results.size() << " corvane runs, "
            << kProcessesAtOnce << " at once, with " << rewrites
            << " rewrites by another program in " << seconds << " s; "
            << checked << " files checked, " << deleted.size() << " deleted, "
            << lostChanges << " changes lost\n";
  for (const auto& [outcome, count] : outcomes)
    std::cout << "[ hostile  ]   " << count << " x " << outcome << "\n";
}

}  // namespace
}  // namespace corvane::e2e
