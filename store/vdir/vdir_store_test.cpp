#include "store/vdir/vdir_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "tests/calendar_text.h"
#include "tests/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// The store the program makes of a vdir at `root`.
struct VdirStore : ItemStore {
  explicit VdirStore(const fs::path& root, Clock clock = systemClock())
      : ItemStore(std::make_unique<VdirBackend>(root, fs::path(), clock),
                  clock) {}
};

// An item whose UID and title are both `title`, `more` (whole lines) after
// them.
std::string todo(const std::string& title, const std::string& more = "") {
  return calendarText(
      todoComponent("UID:" + title + "\r\nSUMMARY:" + title + "\r\n" + more));
}

const std::string kEvent =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e\r\n"
    "DTSTART:20240305T090000Z\r\nSUMMARY:Meeting\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

std::vector<std::string> titlesOf(const std::vector<ReminderPtr>& reminders) {
  std::vector<std::string> titles;
  for (const auto& reminder : reminders)
    titles.push_back(reminder->title.value_or("<none>"));
  return titles;
}

// What one fetch delivered, and how it was delivered.
struct Delivery {
  std::optional<std::vector<ReminderPtr>> reminders;
  int calls = 0;
  bool onOtherThread = false;
};

class VdirStoreTest : public testing::Test {
 protected:
  void write(const fs::path& relative, const std::string& bytes) {
    test::writeFile(root_ / relative, bytes);
  }

  // Runs one fetch on a store of its own and waits for its completion; the
  // store is gone, and its threads joined, before the calls are counted.
  Delivery fetch(const ReminderQuery& query) {
    Delivery delivery;
    std::atomic<int> calls{0};
    std::atomic<bool> otherThread{false};
    {
      VdirStore store(root_);
      std::promise<std::optional<std::vector<ReminderPtr>>> promise;
      auto future = promise.get_future();
      const auto caller = std::this_thread::get_id();
      store.fetchReminders(query, [&](auto reminders) {
        otherThread = std::this_thread::get_id() != caller;
        if (calls++ == 0) promise.set_value(std::move(reminders));
      });
      if (future.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "fetch never completed";
        return delivery;
      }
      delivery.reminders = future.get();
    }
    delivery.calls = calls;
    delivery.onOtherThread = otherThread;
    return delivery;
  }

  std::optional<std::vector<std::string>> fetchTitles(
      const ReminderQuery& query) {
    Delivery delivery = fetch(query);
    EXPECT_EQ(delivery.calls, 1);
    EXPECT_TRUE(delivery.onOtherThread);
    if (!delivery.reminders) return std::nullopt;
    return titlesOf(*delivery.reminders);
  }

  static ReminderQuery listQuery(const std::string& identifier) {
    ReminderQuery query;
    query.listIdentifiers = std::vector<std::string>{identifier};
    return query;
  }

  test::TempFolder temp_;
  const fs::path root_ = temp_.path();
};

TEST_F(VdirStoreTest, ListsInStoreOrderWithTheirMetadata) {
  write("personal/inbox/.keep", "");
  write("personal/errands/displayname", "Errands and chores\n");
  write("personal/errands/color", "#FF8000");
  write("nextcloud/displayname", "Nextcloud");
  write("nextcloud/kind", "caldav\n");
  write("nextcloud/tasks/color", "#00ff0080");
  write("nextcloud/tasks/displayname", "None");
  write("birthdays/kind", "birthdays");
  write("birthdays/contacts/x.ics", todo("x"));
  write("odd/kind", "carrier-pigeon");
  write("odd/l/displayname", "");
  write(".hidden/list/a.ics", todo("hidden"));
  write("personal/.trash/a.ics", todo("trash"));
  write("stray-file", "x");
  fs::create_directory_symlink(root_ / "personal", root_ / "linked");

  VdirStore store(root_);
  std::vector<ReminderList> lists = store.reminderLists();
  ASSERT_EQ(lists.size(), 5u);
  struct Expected {
    std::string identifier, title, account;
    AccountKind accountKind;
    ListKind kind;
  } expected[] = {
      {"birthdays/contacts", "contacts", "birthdays", AccountKind::kBirthdays,
       ListKind::kBirthdays},
      {"nextcloud/tasks", "tasks", "Nextcloud", AccountKind::kCalDav,
       ListKind::kCalDav},
      {"odd/l", "l", "odd", AccountKind::kLocal, ListKind::kLocal},
      {"personal/errands", "Errands and chores", "personal",
       AccountKind::kLocal, ListKind::kLocal},
      {"personal/inbox", "inbox", "personal", AccountKind::kLocal,
       ListKind::kLocal},
  };
  for (size_t i = 0; i < lists.size(); ++i) {
    EXPECT_EQ(lists[i].identifier, expected[i].identifier) << i;
    EXPECT_EQ(lists[i].title, expected[i].title) << expected[i].identifier;
    EXPECT_EQ(lists[i].account.title, expected[i].account)
        << expected[i].identifier;
    EXPECT_EQ(lists[i].account.kind, expected[i].accountKind)
        << expected[i].identifier;
    EXPECT_EQ(lists[i].kind, expected[i].kind) << expected[i].identifier;
  }
  ASSERT_TRUE(lists[1].color);
  EXPECT_DOUBLE_EQ(lists[1].color->green, 1.0);
  EXPECT_DOUBLE_EQ(lists[1].color->red, 0.0);
  ASSERT_TRUE(lists[3].color);
  EXPECT_NEAR(lists[3].color->green, 128 / 255.0, 1e-9);
  EXPECT_FALSE(lists[4].color);
}

TEST_F(VdirStoreTest, AccountKindWords) {
  struct Case {
    std::string word;
    AccountKind account;
    ListKind list;
  } cases[] = {
      {"local", AccountKind::kLocal, ListKind::kLocal},
      {"caldav", AccountKind::kCalDav, ListKind::kCalDav},
      {"exchange", AccountKind::kExchange, ListKind::kExchange},
      {"subscribed", AccountKind::kSubscribed, ListKind::kSubscribed},
      {"birthdays", AccountKind::kBirthdays, ListKind::kBirthdays},
      {" exchange \n", AccountKind::kExchange, ListKind::kExchange},
      {"CalDAV", AccountKind::kLocal, ListKind::kLocal},
      {"None", AccountKind::kLocal, ListKind::kLocal},
  };
  VdirStore store(root_);
  for (const auto& c : cases) {
    write("acct/kind", c.word);
    write("acct/l/.keep", "");
    auto list = store.listWithIdentifier("acct/l");
    ASSERT_TRUE(list) << c.word;
    EXPECT_EQ(list.value().account.kind, c.account) << c.word;
    EXPECT_EQ(list.value().kind, c.list) << c.word;
  }
}

TEST_F(VdirStoreTest, NoStoreHasNoLists) {
  VdirStore store(root_ / "missing");
  EXPECT_TRUE(store.reminderLists().empty());
}

TEST_F(VdirStoreTest, ListWithIdentifier) {
  write("acct/tasks/displayname", "Tasks");
  write("acct/file", "x");
  write("acct/.hidden/a.ics", todo("a"));
  write("outside/list/a.ics", todo("a"));
  fs::create_directory_symlink(root_ / "acct" / "tasks",
                               root_ / "acct" / "link");
  VdirStore real(root_);

  auto found = real.listWithIdentifier("acct/tasks");
  ASSERT_TRUE(found);
  EXPECT_EQ(found.value().identifier, "acct/tasks");
  EXPECT_EQ(found.value().title, "Tasks");

  const std::string bad[] = {
      "",
      "acct",
      "acct/",
      "/tasks",
      "acct/tasks/",
      "acct/tasks/x",
      "acct//tasks",
      "acct/missing",
      "missing/tasks",
      "acct/file",
      "acct/.hidden",
      "../x/list",
      "acct/..",
      "./tasks",
      "acct/link",
      std::string("acct/tasks\0", 11),
      std::string(100'000, 'a') + "/tasks",
  };
  for (const auto& identifier : bad)
    EXPECT_FALSE(real.listWithIdentifier(identifier))
        << identifier.substr(0, 40);
}

TEST_F(VdirStoreTest, FetchOneListInFileOrder) {
  write("a/one/b.ics", todo("B"));
  write("a/one/a.ics", todo("A"));
  write("a/one/C.ics", todo("C upper"));
  write("a/one/event.ics", kEvent);
  write("a/one/.hidden.ics", todo("hidden"));
  write("a/one/d.ics.tmp42", todo("temporary"));
  write("a/one/notes.txt", todo("not an item"));
  write("a/two/a.ics", todo("other list"));

  Delivery delivery = fetch(listQuery("a/one"));
  EXPECT_EQ(delivery.calls, 1);
  EXPECT_TRUE(delivery.onOtherThread);
  ASSERT_TRUE(delivery.reminders);
  EXPECT_EQ(titlesOf(*delivery.reminders),
            (std::vector<std::string>{"C upper", "A", "B"}));
  const Reminder& first = *delivery.reminders->front();
  EXPECT_EQ(first.identifier, "a/one/C");
  EXPECT_EQ(first.calendarIdentifier, "a/one");
}

TEST_F(VdirStoreTest, FetchAllListsInStoreOrder) {
  write("b/x/1.ics", todo("b/x/1"));
  write("a/z/1.ics", todo("a/z/1"));
  write("a/y/2.ics", todo("a/y/2"));
  write("a/y/1.ics", todo("a/y/1"));
  write("a/empty/.keep", "");
  EXPECT_EQ(fetchTitles(ReminderQuery{}),
            (std::vector<std::string>{"a/y/1", "a/y/2", "a/z/1", "b/x/1"}));
}

TEST_F(VdirStoreTest, FetchSeveralNamedLists) {
  write("a/x/1.ics", todo("a/x/1"));
  write("a/y/1.ics", todo("a/y/1"));
  write("b/z/1.ics", todo("b/z/1"));
  ReminderQuery query;
  query.listIdentifiers = std::vector<std::string>{"b/z", "a/x"};
  EXPECT_EQ(fetchTitles(query), (std::vector<std::string>{"b/z/1", "a/x/1"}));
  query.listIdentifiers = std::vector<std::string>{};
  EXPECT_EQ(fetchTitles(query), std::vector<std::string>{});
}

TEST_F(VdirStoreTest, FetchOfMissingListIsAbsent) {
  write("a/x/1.ics", todo("1"));
  EXPECT_EQ(fetchTitles(listQuery("a/missing")), std::nullopt);
  EXPECT_EQ(fetchTitles(listQuery("nolist")), std::nullopt);
  EXPECT_EQ(fetchTitles(listQuery("a/x/1.ics")), std::nullopt);
}

TEST_F(VdirStoreTest, FetchOfEmptyOrMissingStoreIsEmpty) {
  EXPECT_EQ(fetchTitles(ReminderQuery{}), std::vector<std::string>{});
  fs::remove_all(root_);
  EXPECT_EQ(fetchTitles(ReminderQuery{}), std::vector<std::string>{});
}

TEST_F(VdirStoreTest, FetchNeverReachesOutsideTheStore) {
  const fs::path store = root_ / "store";
  write("store/a/l/1.ics", todo("inside"));
  write("secret/l/1.ics", todo("outside"));
  write("store/a/l/x/.keep", "");
  for (const std::string identifier :
       {"../secret/l", "a/../../secret/l", "a/l/../../../secret/l", "/tmp/x"}) {
    VdirStore vdir(store);
    std::promise<std::optional<std::vector<ReminderPtr>>> promise;
    ReminderQuery query = listQuery(identifier);
    vdir.fetchReminders(query, [&](auto reminders) {
      promise.set_value(std::move(reminders));
    });
    auto reminders = promise.get_future().get();
    EXPECT_TRUE(!reminders || reminders->empty())
        << identifier << " gave " << (reminders ? reminders->size() : 0);
  }
}

TEST_F(VdirStoreTest, IncompleteDueByQuery) {
  write("a/l/01.ics", todo("due before", "DUE:20240305T090000Z\r\n"));
  write("a/l/02.ics", todo("due at bound", "DUE:20240305T120000Z\r\n"));
  write("a/l/03.ics", todo("due after", "DUE:20240305T120001Z\r\n"));
  write("a/l/04.ics",
        todo("completed", "DUE:20240301T090000Z\r\nSTATUS:COMPLETED\r\n"));
  write("a/l/05.ics",
        todo("cancelled", "DUE:20240301T090000Z\r\nSTATUS:CANCELLED\r\n"));
  write("a/l/06.ics", todo("undated"));
  write("a/l/07.ics", todo("impossible", "DUE;VALUE=DATE:20240231\r\n"));
  write("a/l/08.ics", todo("long ago", "DUE;VALUE=DATE:19990101\r\n"));
  write("b/l/01.ics", todo("other list", "DUE:20240304T090000Z\r\n"));

  ReminderQuery query;
  query.incompleteDueOnly = true;
  query.dueEnding = sys_days{2024y / 3 / 5} + 12h;
  EXPECT_EQ(fetchTitles(query),
            (std::vector<std::string>{"due before", "due at bound", "long ago",
                                      "other list"}));

  query.dueEnding.reset();
  EXPECT_EQ(fetchTitles(query),
            (std::vector<std::string>{"due before", "due at bound", "due after",
                                      "long ago", "other list"}));

  query.listIdentifiers = std::vector<std::string>{"b/l"};
  EXPECT_EQ(fetchTitles(query), (std::vector<std::string>{"other list"}));

  // Without the filter, every reminder comes back.
  EXPECT_EQ(fetchTitles(ReminderQuery{})->size(), 9u);
}

TEST_F(VdirStoreTest, UnreadableFilesLeftOutAndUntouched) {
  const std::string garbage = std::string("\x00\xff\x10 not iCalendar", 17);
  const std::string truncated = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:hal";
  write("a/l/1.ics", todo("good one"));
  write("a/l/2.ics", garbage);
  write("a/l/3.ics", truncated);
  write("a/l/4.ics", "");
  write("a/l/5.ics", kEvent);
  write("a/l/6.ics", todo("good two"));
  fs::create_directory(root_ / "a" / "l" / "7.ics");
  const auto before = fs::last_write_time(root_ / "a/l/2.ics");

  EXPECT_EQ(fetchTitles(listQuery("a/l")),
            (std::vector<std::string>{"good one", "good two"}));
  EXPECT_EQ(test::readFile(root_ / "a/l/2.ics"), garbage);
  EXPECT_EQ(test::readFile(root_ / "a/l/3.ics"), truncated);
  EXPECT_EQ(test::readFile(root_ / "a/l/5.ics"), kEvent);
  EXPECT_EQ(fs::last_write_time(root_ / "a/l/2.ics"), before);
  EXPECT_TRUE(fs::is_directory(root_ / "a/l/7.ics"));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       fs::directory_iterator(root_ / "a/l"))
    ++entries;
  EXPECT_EQ(entries, 7u);
}

TEST_F(VdirStoreTest, ReminderWithIdentifier) {
  write("a/l/r.ics", todo("Reminder", "PRIORITY:5\r\n"));
  write("a/l/e.ics", kEvent);
  write("a/l/bad.ics", "garbage");
  write("outside.ics", todo("outside"));
  VdirStore store(root_);

  ReminderPtr reminder = store.reminderWithIdentifier("a/l/r");
  ASSERT_TRUE(reminder);
  EXPECT_EQ(reminder->title, "Reminder");
  EXPECT_EQ(reminder->priority, 5);
  EXPECT_EQ(reminder->identifier, "a/l/r");
  EXPECT_EQ(reminder->calendarIdentifier, "a/l");

  for (const std::string identifier :
       {"a/l/e", "a/l/missing", "a/l/bad", "a/l/r.ics", "a/l", "a/l/r/x",
        "../outside", "a/../outside", "a/l/../../outside", "a/l/.r", ""})
    EXPECT_FALSE(store.reminderWithIdentifier(identifier)) << identifier;
}

TEST_F(VdirStoreTest, ManyRemindersComeBackComplete) {
  const std::string lists[] = {"acct1/home", "acct1/work", "acct2/shared",
                               "acct3/misc"};
  std::vector<std::string> expected;
  int n = 0;
  for (const auto& list : lists) {
    for (int i = 0; i < 75; ++i, ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "item-%03d", i);
      std::string title = list + "/" + name;
      // Zoned due dates make every reading thread go through the zones.
      std::string due = "DUE;TZID=Europe/Berlin:202403" +
                        std::string(i % 28 < 9 ? "0" : "") +
                        std::to_string(i % 28 + 1) + "T093000\r\n";
      write(fs::path(list) / (std::string(name) + ".ics"), todo(title, due));
      expected.push_back(title);
    }
  }
  write("acct2/shared/broken.ics", "BEGIN:VCALENDAR\r\n");

  Delivery delivery = fetch(ReminderQuery{});
  EXPECT_EQ(delivery.calls, 1);
  ASSERT_TRUE(delivery.reminders);
  EXPECT_EQ(titlesOf(*delivery.reminders), expected);
  for (const auto& reminder : *delivery.reminders) {
    ASSERT_TRUE(reminder->dueDateComponents) << *reminder->title;
    auto due = resolveComponents(*reminder->dueDateComponents);
    ASSERT_TRUE(due) << *reminder->title;
    int day = reminder->dueDateComponents->day;
    EXPECT_EQ(*due, sys_days{2024y / 3 / day} + 8h + 30min) << *reminder->title;
    EXPECT_EQ(reminder->identifier, *reminder->title);
  }
}

// What a change writes carries the time the store's clock tells: the
// completion, the modification and the stamp, in a plain reminder's file
// and in both files a repeating one's completed occurrence leaves.
TEST_F(VdirStoreTest, ChangesCarryTheTimeOfTheStoresClock) {
  const Instant then = sys_days{2024y / 3 / 5} + 14h + 7min + 9s;
  const struct {
    const char* name;
    std::string more;
    size_t files;
  } cases[] = {
      {"plain", "", 1},
      {"repeating", "DTSTART:20240301T090000Z\r\nRRULE:FREQ=DAILY\r\n", 2},
  };
  for (const auto& c : cases) {
    fs::remove_all(root_ / "a");
    write("a/l/r.ics", todo(c.name, c.more));
    VdirStore store(root_, [then] { return then; });
    ReminderPtr reminder = store.reminderWithIdentifier("a/l/r");
    ASSERT_TRUE(reminder) << c.name;
    Outcome completed = store.setCompleted(*reminder, true);
    ASSERT_TRUE(completed.ok()) << c.name << ": " << completed.reason();
    size_t files = 0, completions = 0;
    for (const auto& entry : fs::directory_iterator(root_ / "a/l")) {
      const std::string text = test::readFile(entry.path());
      ++files;
      for (const char* line : {"\nLAST-MODIFIED:20240305T140709Z\r\n",
                               "\nDTSTAMP:20240305T140709Z\r\n"})
        EXPECT_NE(text.find(line), std::string::npos)
            << c.name << " " << entry.path() << " " << line;
      completions +=
          text.find("\nCOMPLETED:20240305T140709Z\r\n") != std::string::npos;
    }
    EXPECT_EQ(files, c.files) << c.name;
    EXPECT_EQ(completions, 1u) << c.name;
  }
}

}  // namespace
}  // namespace corvane
