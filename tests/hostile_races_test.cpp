// Races and faults at the moment corvane changes a file: a list folder
// swapped for a link to elsewhere while corvane works in it, another
// program's rename landing while corvane's commit is held back, and a
// system call failing at each point of a run. Faults are injected with
// strace, so those tests are skipped where it is missing or cannot trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStrace = "/usr/bin/strace";

bool straceWorks() {
  static const bool works = [] {
    if (::access(kStrace, X_OK) != 0) return false;
    RunResult run = runProgram(kStrace, {"strace", "-o", "/dev/null", "true"},
                               {{"PATH", "/usr/bin:/bin"}});
    return run.exitStatus == 0;
  }();
  return works;
}

// corvane under strace with the given strace options; strace's own report
// goes to `traceFile` (the null device by default), never to standard
// error.
RunResult runTraced(const std::vector<std::string>& straceOptions,
                    const std::vector<std::string>& args,
                    const Environment& environment,
                    const std::string& traceFile = "/dev/null") {
  std::vector<std::string> argv = {"strace", "-f", "-qq", "-o", traceFile};
  argv.insert(argv.end(), straceOptions.begin(), straceOptions.end());
  argv.push_back(CORVANE_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());
  // A sanitizer build's leak check traces the process at its end, which
  // it cannot while strace does.
  Environment traced = environment;
  traced["ASAN_OPTIONS"] = "detect_leaks=0";
  return runProgram(kStrace, argv, traced);
}

// For 15 s the list folder and a link to a folder outside the store trade
// places as fast as the kernel allows, while corvane toggles and deletes
// items of that list. The outside folder holds files of the same names,
// so any run led through the link would find something to change there.
TEST(HostileRaces, ListSwappedForALinkNeverLeadsOutside) {
  TempStore store;
  const fs::path outside = store.base() / "outside";
  fs::create_directories(outside);
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) names.push_back("t" + std::to_string(i));
  for (int i = 0; i < 2000; ++i) names.push_back("d" + std::to_string(i));
  for (const auto& name : names) {
    std::string text = todoText(name, "Item " + name);
    store.writeFile("acct/list/" + name + ".ics", text);
    std::ofstream(outside / (name + ".ics"), std::ios::binary) << text;
  }
  const fs::path list = store.root() / "acct/list";
  const fs::path link = store.root() / "acct/swap";
  fs::create_directory_symlink(outside, link);
  const std::string outsideBefore = treeSnapshot(outside);

  std::atomic<bool> stop{false};
  long swaps = 0;
  std::thread swapper([&] {
    while (!stop) {
      if (::renameat2(AT_FDCWD, list.c_str(), AT_FDCWD, link.c_str(),
                      RENAME_EXCHANGE) == 0)
        ++swaps;
    }
  });
  std::mutex mutex;
  std::vector<RunResult> results;
  std::map<std::string, int> outcomes;
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(15);
  auto worker = [&](bool deletes) {
    for (int n = 0; std::chrono::steady_clock::now() < until; ++n) {
      std::vector<std::string> args =
          deletes ? std::vector<std::string>{"delete",
                                             "acct/list/d" + std::to_string(n)}
                  : std::vector<std::string>{
                        "toggle", "acct/list/t" + std::to_string(n % 10),
                        n % 2 ? "true" : "false"};
      RunResult result = runCorvane(args, store.environment());
      std::lock_guard guard(mutex);
      results.push_back(std::move(result));
    }
  };
  std::thread toggler(worker, false), deleter(worker, true);
  toggler.join();
  deleter.join();
  stop = true;
  swapper.join();
  if (fs::is_symlink(list)) {
    ASSERT_EQ(::renameat2(AT_FDCWD, list.c_str(), AT_FDCWD, link.c_str(),
                          RENAME_EXCHANGE),
              0);
  }

  for (const auto& result : results) {
    Json envelope = envelopeOf(result);
    ASSERT_TRUE(envelope.is_object()) << result.out;
    ++outcomes[envelope["success"] == true
                   ? "success"
                   : envelope["error"].get<std::string>().substr(0, 60)];
  }
  EXPECT_EQ(treeSnapshot(outside), outsideBefore)
      << "a run changed or deleted a file outside the store";
  for (const auto& file : itemFilesBelow(list))
    EXPECT_TRUE(isWholeTodo(readBytes(file).value_or(""))) << file;
  EXPECT_GT(outcomes["success"], 0) << "the race left corvane no chance";
  std::cout << "[ hostile  ] " << results.size() << " runs during " << swaps
            << " swaps of the list with a link\n";
  for (const auto& [outcome, count] : outcomes)
    std::cout << "[ hostile  ]   " << count << " x " << outcome << "\n";
}

// corvane's commit (the exchange for toggle, the move aside for delete) is
// held back for two seconds; meanwhile another program renames its own
// version over the item, after corvane's last look. The other program's
// file must be what is left, and corvane must say it did nothing. The
// other program waits until the trace shows the commit held, not for a
// fixed time: on a busy machine corvane may not have read the item yet.
TEST(HostileRaces, RenameDuringAHeldBackCommitIsKept) {
  if (!straceWorks()) GTEST_SKIP() << "strace is missing or cannot trace";
  const std::vector<std::vector<std::string>> commands = {
      {"toggle", "acct/list/item", "true"}, {"delete", "acct/list/item"}};
  for (const auto& command : commands) {
    TempStore store;
    const fs::path list = store.root() / "acct/list";
    store.writeFile("acct/list/item.ics", todoText("item", "Corvane's"));
    const std::string theirs = todoText("item", "The other program's");
    const fs::path trace = store.base() / "trace";
    RunResult result;
    std::atomic<bool> ended = false;
    std::thread held([&] {
      result = runTraced({"-e", "inject=renameat2:delay_enter=2000000:when=1"},
                         command, store.environment(), trace.string());
      ended = true;
    });
    // strace writes a call's name and arguments before it holds the call.
    while (!ended && readBytes(trace).value_or("").find("renameat2(") ==
                         std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ofstream(list / ".theirs.tmp", std::ios::binary) << theirs;
    fs::rename(list / ".theirs.tmp", list / "item.ics");
    held.join();
    Json envelope = envelopeOf(result);
    ASSERT_TRUE(envelope.is_object()) << command[0] << ": " << result.out;
    EXPECT_EQ(envelope["success"], false) << command[0];
    EXPECT_NE(envelope.value("error", "").find("changed by another program"),
              std::string::npos)
        << command[0] << ": " << result.out;
    EXPECT_EQ(readBytes(list / "item.ics"), theirs) << command[0];
    EXPECT_EQ(namesIn(list), std::vector<std::string>{"item.ics"})
        << command[0];
  }
}

// File systems without the exchange and no-replace flags answer EINVAL:
// toggle and delete still work there, by check and rename.
TEST(HostileRaces, WithoutExchangeChangesStillWork) {
  if (!straceWorks()) GTEST_SKIP() << "strace is missing or cannot trace";
  TempStore store;
  const fs::path list = store.root() / "acct/list";
  store.writeFile("acct/list/item.ics", todoText("item", "No exchange"));
  const std::vector<std::string> noFlags = {"-e",
                                            "inject=renameat2:error=EINVAL"};
  EXPECT_EQ(envelopeOf(runTraced(noFlags, {"toggle", "acct/list/item", "true"},
                                 store.environment()))["success"],
            true);
  bool completed = false;
  EXPECT_TRUE(isWholeTodo(readBytes(list / "item.ics").value_or(""), nullptr,
                          &completed));
  EXPECT_TRUE(completed);
  EXPECT_EQ(envelopeOf(runTraced(noFlags, {"delete", "acct/list/item"},
                                 store.environment()))["success"],
            true);
  EXPECT_TRUE(namesIn(list).empty());
}

// One traced call of a run: its system call, and its ordinal among the
// calls of that system call in the main thread.
struct TracedCall {
  std::string name;
  int ordinal;
  bool toStandardOutput;
  // A write to a pipe of its own: a sanitizer build's runtime probing
  // memory, not corvane, which writes to no pipe but standard output.
  bool toOwnPipe;
};

// The calls a run makes after the program's own code starts (its first
// step opens the null device for standard error), in the main thread.
std::vector<TracedCall> callsOf(const std::string& trace) {
  std::istringstream lines(trace);
  std::string line;
  std::string mainPid;
  std::map<std::string, int> counts;
  std::vector<TracedCall> calls;
  bool started = false;
  static const std::regex call(R"(^(\d+)\s+([a-z0-9_]+)\((.*))");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (!std::regex_search(line, match, call)) continue;
    if (mainPid.empty()) mainPid = match[1];
    if (match[1] != mainPid) continue;
    std::string name = match[2];
    int ordinal = ++counts[name];
    if (!started && match[3].str().find("\"/dev/null\"") != std::string::npos)
      started = true;
    if (!started) continue;
    const std::string arguments = match[3];
    bool toStandardOutput = name == "write" && (arguments.rfind("1,", 0) == 0 ||
                                                arguments.rfind("1<", 0) == 0);
    bool toPipe =
        name == "write" && arguments.find("<pipe:[") < arguments.find(',');
    calls.push_back(
        {name, ordinal, toStandardOutput, toPipe && !toStandardOutput});
  }
  return calls;
}

// A folder or an item that is there but cannot be read makes a query fail
// rather than answer short; a list that was not asked for does not.
TEST(HostileRaces, ReadsThatFailFailTheQuery) {
  if (!straceWorks()) GTEST_SKIP() << "strace is missing or cannot trace";
  TempStore store;
  std::vector<DueTodo> todos;
  for (const char* list : {"acct/read", "acct/failing"})
    for (int i = 0; i < 3; ++i)
      todos.push_back({std::string(list) + "/t" + std::to_string(i) + ".ics",
                       std::string(list) + std::to_string(i), "Task",
                       "20260105T090000Z"});
  writeDueTodos(store, todos);
  const struct {
    const char* call;
    const char* failing;  // below the store's root
    std::vector<std::string> command;
    std::optional<std::size_t> listed;  // absent: the query fails
  } cases[] = {
      {"getdents64", "acct/failing", {"reminders", "acct/failing"}, {}},
      {"getdents64", "acct/failing", {"special_reminders", "scheduled"}, {}},
      {"getdents64", "acct", {"special_reminders", "today"}, {}},
      {"getdents64", "acct/failing", {"reminders", "acct/read"}, 3},
      {"pread64",
       "acct/failing/t1.ics",
       {"special_reminders", "scheduled"},
       {}},
      {"pread64", "acct/failing/t1.ics", {"reminders", "acct/failing"}, {}},
  };
  for (const auto& c : cases) {
    const std::string where = std::string(c.call) + " of " + c.failing + ", " +
                              c.command[0] + " " + c.command[1];
    RunResult run = runTraced({"-P", (store.root() / c.failing).string(), "-e",
                               std::string("trace=") + c.call, "-e",
                               std::string("inject=") + c.call + ":error=EIO"},
                              c.command, store.environment());
    Json envelope = envelopeOf(run);
    ASSERT_TRUE(envelope.is_object()) << where << ": " << run.out;
    if (c.listed) {
      EXPECT_EQ(envelope["success"], true) << where;
      EXPECT_EQ(envelope["data"].size(), *c.listed) << where;
    } else {
      EXPECT_EQ(envelope["error"], "Unable to fetch reminders") << where;
    }
  }
}

// Every file-system call of toggle, delete, get and a smart list is made to
// fail with EIO in turn. Each run must print one envelope, and the item
// must be whole: unchanged, or changed as a successful run says.
TEST(HostileRaces, FailingSystemCallsEndInOneEnvelopeAndKeepTheItem) {
  if (!straceWorks()) GTEST_SKIP() << "strace is missing or cannot trace";
  const std::string calls =
      "openat,open,read,pread64,newfstatat,fstat,statx,getdents64,renameat2,"
      "rename,renameat,unlinkat,fsync,write,fchown,fchmod,flistxattr,"
      "fgetxattr,fsetxattr,faccessat2,close,mkdir,lseek";
  const std::vector<std::vector<std::string>> commands = {
      {"toggle", "acct/list/item", "true"},
      {"delete", "acct/list/item"},
      {"get", "acct/list/item"},
      {"special_reminders", "today"},
      {"special_reminders", "scheduled"},
  };
  TempStore store;
  const fs::path list = store.root() / "acct/list";
  const fs::path item = list / "item.ics";
  const std::string original =
      todoText("item", "Fault",
               {"DUE;TZID=Europe/Berlin:20260105T090000", "X-KEEP:yes"});
  const std::string kept = withoutCompletionLines(original);
  int runs = 0;
  for (const auto& command : commands) {
    store.writeFile("acct/list/item.ics", original);
    const fs::path traceFile = store.base() / "trace";
    envelopeOf(runTraced({"-y", "-e", "trace=" + calls}, command,
                         store.environment(), traceFile.string()));
    std::vector<TracedCall> points = callsOf(readBytes(traceFile).value_or(""));
    ASSERT_FALSE(points.empty()) << command[0];
    for (const auto& point : points) {
      // A failing write of the answer itself cannot be answered.
      if (point.toStandardOutput || point.toOwnPipe) continue;
      store.writeFile("acct/list/item.ics", original);
      std::string where = command[0] + " " + command.back() + ", " +
                          point.name + " #" + std::to_string(point.ordinal);
      RunResult result = runTraced(
          {"-e", "inject=" + point.name +
                     ":error=EIO:when=" + std::to_string(point.ordinal)},
          command, store.environment());
      ++runs;
      Json envelope = envelopeOf(result);
      ASSERT_TRUE(envelope.is_object()) << where << ": " << result.out;
      std::optional<std::string> now = readBytes(item);
      if (command[0] == "delete" && envelope["success"] == true) {
        EXPECT_FALSE(now) << where;
      } else if (command[0] == "toggle" && envelope["success"] == true) {
        bool completed = false;
        ASSERT_TRUE(now && isWholeTodo(*now, nullptr, &completed)) << where;
        EXPECT_TRUE(completed) << where;
        EXPECT_EQ(withoutCompletionLines(*now), kept) << where;
      } else {
        EXPECT_EQ(now, original) << where;
      }
      for (const auto& name : namesIn(list))
        EXPECT_TRUE(name == "item.ics" || name[0] == '.')
            << where << ": " << name;
    }
  }
  std::cout << "[ hostile  ] " << runs << " runs, each with one failing call\n";
}

}  // namespace
}  // namespace corvane::e2e
