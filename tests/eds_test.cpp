// The GNOME desktop's store as a caller sees it: the built corvane against
// a real Evolution Data Server on a private session bus of this test's own
// (tests/eds_session.sh starts it), with task lists and tasks made here
// through EDS's own client library, and a vdir store beside it.
#include <gtest/gtest.h>
#include <libecal/libecal.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

template <class T>
struct Unref {
  void operator()(T* object) const { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref<T>>;

// EDS as this test reaches it, straight through libecal.
class Eds {
 public:
  static Eds& instance() {
    static Eds eds;
    return eds;
  }

  // A new local task list ("On This Computer") with `title` and `color`;
  // its source UID.
  std::string makeList(const std::string& title, const std::string& color) {
    GError* error = nullptr;
    Owned<ESource> source(e_source_new(nullptr, nullptr, &error));
    e_source_set_parent(source.get(), "local-stub");
    e_source_set_display_name(source.get(), title.c_str());
    auto* list = static_cast<ESourceTaskList*>(
        e_source_get_extension(source.get(), E_SOURCE_EXTENSION_TASK_LIST));
    e_source_backend_set_backend_name(E_SOURCE_BACKEND(list), "local");
    e_source_selectable_set_color(E_SOURCE_SELECTABLE(list), color.c_str());
    EXPECT_TRUE(e_source_registry_commit_source_sync(
        registry_.get(), source.get(), nullptr, &error))
        << messageOf(error);
    return e_source_get_uid(source.get());
  }

  // A new local task list whose file EDS finds already holding
  // `calendarText`, as one written by another program would be: EDS
  // takes objects from it that it would refuse through its client (a UID
  // that is not UTF-8). With kRefused, EDS is told to keep the file as it
  // is and opens the list read-only. Its source UID.
  enum class Changes { kAllowed, kRefused };
  std::string makeListFromFile(const std::string& title,
                               const std::string& calendarText,
                               Changes changes = Changes::kAllowed) {
    GError* error = nullptr;
    Owned<ESource> source(e_source_new(nullptr, nullptr, &error));
    const std::string uid = e_source_get_uid(source.get());
    const std::filesystem::path folder =
        std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "evolution" /
        "tasks" / uid;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "tasks.ics") << calendarText;
    if (changes == Changes::kRefused) {
      auto* local = static_cast<ESourceLocal*>(e_source_get_extension(
          source.get(), E_SOURCE_EXTENSION_LOCAL_BACKEND));
      GFile* file = g_file_new_for_path((folder / "tasks.ics").c_str());
      e_source_local_set_custom_file(local, file);
      g_object_unref(file);
      e_source_local_set_writable(local, FALSE);
    }
    e_source_set_parent(source.get(), "local-stub");
    e_source_set_display_name(source.get(), title.c_str());
    auto* list = static_cast<ESourceTaskList*>(
        e_source_get_extension(source.get(), E_SOURCE_EXTENSION_TASK_LIST));
    e_source_backend_set_backend_name(E_SOURCE_BACKEND(list), "local");
    EXPECT_TRUE(e_source_registry_commit_source_sync(
        registry_.get(), source.get(), nullptr, &error))
        << messageOf(error);
    return uid;
  }

  // A new subscribed (webcal) task list with `title`, of a calendar on a
  // port of this machine where nothing answers; its source UID.
  std::string makeWebcalList(const std::string& title) {
    GError* error = nullptr;
    Owned<ESource> source(e_source_new(nullptr, nullptr, &error));
    e_source_set_parent(source.get(), "webcal-stub");
    e_source_set_display_name(source.get(), title.c_str());
    auto* list = static_cast<ESourceTaskList*>(
        e_source_get_extension(source.get(), E_SOURCE_EXTENSION_TASK_LIST));
    e_source_backend_set_backend_name(E_SOURCE_BACKEND(list), "webcal");
    auto* webdav = static_cast<ESourceWebdav*>(e_source_get_extension(
        source.get(), E_SOURCE_EXTENSION_WEBDAV_BACKEND));
    GUri* uri =
        g_uri_parse("http://127.0.0.1:9/tasks.ics", G_URI_FLAGS_NONE, nullptr);
    e_source_webdav_set_uri(webdav, uri);
    g_uri_unref(uri);
    EXPECT_TRUE(e_source_registry_commit_source_sync(
        registry_.get(), source.get(), nullptr, &error))
        << messageOf(error);
    return e_source_get_uid(source.get());
  }

  bool isReadOnly(const std::string& list) {
    return client(list) && e_client_is_readonly(E_CLIENT(client(list)));
  }

  // Adds every VTODO of `calendarText` to the list, overridden occurrences
  // after their series.
  void add(const std::string& list, const std::string& calendarText) {
    Owned<ICalComponent> calendar(
        i_cal_component_new_from_string(calendarText.c_str()));
    ASSERT_TRUE(calendar) << calendarText;
    for (ICalComponent* todo = i_cal_component_get_first_component(
             calendar.get(), I_CAL_VTODO_COMPONENT);
         todo; todo = i_cal_component_get_next_component(
                   calendar.get(), I_CAL_VTODO_COMPONENT)) {
      Owned<ICalComponent> owned(todo);
      GError* error = nullptr;
      bool added;
      Owned<ICalProperty> occurrence(i_cal_component_get_first_property(
          todo, I_CAL_RECURRENCEID_PROPERTY));
      if (occurrence)
        added = e_cal_client_modify_object_sync(
            client(list), todo, E_CAL_OBJ_MOD_THIS, E_CAL_OPERATION_FLAG_NONE,
            nullptr, &error);
      else
        added = e_cal_client_create_object_sync(client(list), todo,
                                                E_CAL_OPERATION_FLAG_NONE,
                                                nullptr, nullptr, &error);
      EXPECT_TRUE(added) << messageOf(error) << "\n" << calendarText;
    }
  }

  // The list's objects by UID, as EDS holds them: their components, the
  // series first.
  std::map<std::string, std::vector<Owned<ECalComponent>>> objects(
      const std::string& list) {
    GSList* read = nullptr;
    GError* error = nullptr;
    EXPECT_TRUE(e_cal_client_get_object_list_as_comps_sync(
        client(list), "#t", &read, nullptr, &error))
        << messageOf(error);
    std::map<std::string, std::vector<Owned<ECalComponent>>> byUid;
    for (GSList* item = read; item; item = item->next) {
      auto* component = static_cast<ECalComponent*>(item->data);
      auto& series = byUid[e_cal_component_get_uid(component)];
      if (e_cal_component_is_instance(component))
        series.emplace_back(component);
      else
        series.emplace(series.begin(), component);
    }
    g_slist_free(read);
    return byUid;
  }

 private:
  Eds() {
    GError* error = nullptr;
    registry_.reset(e_source_registry_new_sync(nullptr, &error));
    if (!registry_) ADD_FAILURE() << "no EDS registry: " << messageOf(error);
  }

  ECalClient* client(const std::string& list) {
    auto& client = clients_[list];
    if (!client) {
      Owned<ESource> source(
          e_source_registry_ref_source(registry_.get(), list.c_str()));
      GError* error = nullptr;
      client.reset(E_CAL_CLIENT(e_cal_client_connect_sync(
          source.get(), E_CAL_CLIENT_SOURCE_TYPE_TASKS,
          static_cast<guint32>(-1), nullptr, &error)));
      EXPECT_TRUE(client) << messageOf(error);
    }
    return client.get();
  }

  static std::string messageOf(GError*& error) {
    std::string message = error ? error->message : "";
    g_clear_error(&error);
    return message;
  }

  Owned<ESourceRegistry> registry_;
  std::map<std::string, Owned<ECalClient>> clients_;
};

std::string text(ECalComponent* component) {
  gchar* text = e_cal_component_get_as_string(component);
  std::string copy = text;
  g_free(text);
  return copy;
}

// A vdir store beside EDS, and the environment that shows corvane both:
// the test's own session bus.
class EdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_TRUE(bus) << "run through tests/eds_session.sh";
    environment_ = store_.environment();
    environment_["DBUS_SESSION_BUS_ADDRESS"] = bus;
    store_.writeFile(
        "acct/home/overdue.ics",
        todoText("overdue@tests", "Overdue in the vdir",
                 {"DUE:20200101T090000Z", "CREATED:20191201T090000Z",
                  "LAST-MODIFIED:20191201T090000Z"}));
  }

  RunResult run(const std::vector<std::string>& args) {
    return runCorvane(args, environment_);
  }

  TempStore store_;
  Environment environment_;
};

// Whether a change answered success (it carries no data).
bool succeeded(const RunResult& run) {
  Json envelope = envelopeOf(run);
  EXPECT_EQ(envelope, Json({{"success", true}})) << run.out;
  return envelope == Json({{"success", true}});
}

std::vector<std::string> idsOf(const Json& records) {
  std::vector<std::string> ids;
  for (const auto& record : records) ids.push_back(record.value("id", "?"));
  return ids;
}

// A run of corvane killed if it takes 20 s, and how long it took.
struct TimedRun {
  RunResult run;
  double seconds;
};
TimedRun timedRun(const std::vector<std::string>& args,
                  const Environment& environment) {
  std::vector<std::string> argv = {"timeout", "-s", "KILL", "20",
                                   CORVANE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  auto start = std::chrono::steady_clock::now();
  RunResult run = runProgram("/usr/bin/timeout", argv, environment);
  return {run, std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                             start)
                   .count()};
}

// A bus that takes connections and never answers: a listening socket of
// this process that accepts none (the kernel completes the connections).
class SilentBus {
 public:
  explicit SilentBus(const std::filesystem::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  path.c_str());
    ready_ = fd_ >= 0 &&
             ::bind(fd_, reinterpret_cast<sockaddr*>(&address),
                    sizeof address) == 0 &&
             ::listen(fd_, 64) == 0;
    address_ = "unix:path=" + path.string();
  }
  ~SilentBus() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }

 private:
  int fd_ = -1;
  bool ready_ = false;
  std::string address_;
};

// EDS's daemons on the test's bus, stopped with SIGSTOP by their process
// ids until the end of the scope, when they are resumed.
class StoppedEds {
 public:
  StoppedEds() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return;
    for (const std::string& name : namesOf(bus))
      if (name.starts_with("org.gnome.evolution.dataserver."))
        if (pid_t pid = pidOf(bus, name);
            pid > 0 && std::ranges::find(pids_, pid) == pids_.end())
          pids_.push_back(pid);
    g_object_unref(bus);
    for (pid_t pid : pids_) ::kill(pid, SIGSTOP);
  }
  ~StoppedEds() {
    for (pid_t pid : pids_) ::kill(pid, SIGCONT);
  }
  std::size_t count() const { return pids_.size(); }

 private:
  static std::vector<std::string> namesOf(GDBusConnection* bus) {
    std::vector<std::string> names;
    GVariant* answer = call(bus, "ListNames", nullptr);
    if (!answer) return names;
    GVariantIter* iter = nullptr;
    const gchar* name = nullptr;
    g_variant_get(answer, "(as)", &iter);
    while (g_variant_iter_next(iter, "&s", &name)) names.emplace_back(name);
    g_variant_iter_free(iter);
    g_variant_unref(answer);
    return names;
  }
  static pid_t pidOf(GDBusConnection* bus, const std::string& name) {
    GVariant* answer = call(bus, "GetConnectionUnixProcessID",
                            g_variant_new("(s)", name.c_str()));
    if (!answer) return -1;
    guint32 pid = 0;
    g_variant_get(answer, "(u)", &pid);
    g_variant_unref(answer);
    return static_cast<pid_t>(pid);
  }
  static GVariant* call(GDBusConnection* bus, const char* method,
                        GVariant* arguments) {
    return g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", method, arguments, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  }
  std::vector<pid_t> pids_;
};

// One list of tasks made once for the queries: a date due, a zoned due, a
// completed task with notes, a repeating one with an end, and a UID with a
// slash and a percent sign.
const std::string& errands() {
  static const std::string list = [] {
    Eds& eds = Eds::instance();
    std::string uid = eds.makeList("Errands", "#12ab34");
    eds.add(uid, todoText("post/office%1", "Buy stamps",
                          {"DUE;VALUE=DATE:20200310"}));
    eds.add(uid, todoText("berlin", "Call Berlin",
                          {"DUE;TZID=Europe/Berlin:20990310T090000"}));
    eds.add(uid, todoText("taxes", "File taxes",
                          {"STATUS:COMPLETED", "COMPLETED:20240102T000000Z",
                           "DESCRIPTION:Receipts in the blue folder"}));
    eds.add(uid, todoText("plants", "Water the plants",
                          {"DTSTART:20200105T090000Z", "DUE:20200105T090000Z",
                           "RRULE:FREQ=WEEKLY;UNTIL=20200301T000000Z"}));
    return uid;
  }();
  return list;
}

TEST_F(EdsTest, ListsShowTheVdirsThenEdsByAccountTitleAndUid) {
  const std::string list = "eds:" + errands();
  Json lists = dataOf(run({"list"}), "list");
  ASSERT_GE(lists.size(), 3u) << lists.dump(1);
  EXPECT_EQ(lists[0].value("calendarIdentifier", ""), "acct/home");
  auto key = [](const Json& record) {
    return std::make_tuple(record["source"].value("title", ""),
                           record.value("title", ""),
                           record.value("calendarIdentifier", ""));
  };
  for (size_t i = 2; i < lists.size(); ++i)
    EXPECT_LT(key(lists[i - 1]), key(lists[i])) << lists.dump(1);
  Json expected = {
      {"calendarIdentifier", list},
      {"title", "Errands"},
      {"type", 0},
      {"allowsContentModifications", true},
      {"source", {{"title", "On This Computer"}, {"sourceType", 0}}},
      {"color", "#12AB34"}};
  EXPECT_NE(std::ranges::find(lists, expected), lists.end()) << lists.dump(1);
  EXPECT_EQ(dataOf(run({"check_permission_status"}), "status"),
            Json({{"status", "authorized"}}));
}

TEST_F(EdsTest, QueriesReadEdsBesideTheVdir) {
  const std::string list = "eds:" + errands();
  const std::string stamps = list + "/post%2Foffice%251",
                    berlin = list + "/berlin", taxes = list + "/taxes",
                    plants = list + "/plants";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> ids;  // in the order shown
  };
  const std::vector<Case> cases = {
      {{"reminders", list}, {berlin, plants, stamps, taxes}},
      {{"reminders", list, "completed"}, {taxes}},
      {{"reminders", list, "incomplete", "deadline"}, {plants, stamps, berlin}},
      {{"special_reminders", "today"}, {"acct/home/overdue", plants, stamps}},
      {{"special_reminders", "scheduled"},
       {"acct/home/overdue", berlin, plants, stamps}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(idsOf(dataOf(run(c.args), c.args[0])), c.ids) << c.args.back();

  struct Record {
    std::string id;
    Json fields;  // what "get" shows of them
  };
  const std::vector<Record> records = {
      {stamps,
       {{"title", "Buy stamps"},
        {"dueDate", "2020-03-10T00:00:00Z"},
        {"isCompleted", false},
        {"hasRecurrenceRules", false}}},
      {berlin, {{"title", "Call Berlin"}, {"dueDate", "2099-03-10T08:00:00Z"}}},
      {taxes,
       {{"title", "File taxes"},
        {"dueDate", nullptr},
        {"notes", "Receipts in the blue folder"},
        {"isCompleted", true}}},
      {plants,
       {{"title", "Water the plants"},
        {"dueDate", "2020-01-05T09:00:00Z"},
        {"hasRecurrenceRules", true},
        {"recurrenceDescription", "Weekly"}}},
  };
  for (const auto& [id, fields] : records) {
    Json got = dataOf(run({"get", id}), id);
    EXPECT_EQ(got.value("calendar", ""), list) << id;
    for (const auto& [name, value] : fields.items())
      EXPECT_EQ(got.value(name, Json()), value) << id << " " << name;
  }

  // A UID that is not UTF-8 is printed repaired, and reached by what is
  // printed.
  const std::string odd = Eds::instance().makeListFromFile(
      "Odd",
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tests//EN\r\n"
      "BEGIN:VTODO\r\nUID:bad\xFFuid\r\nSUMMARY:Odd one\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n");
  Json shown = dataOf(run({"reminders", "eds:" + odd}), "reminders");
  ASSERT_EQ(idsOf(shown),
            std::vector<std::string>{"eds:" + odd + "/bad\xEF\xBF\xBDuid"});
  EXPECT_EQ(
      dataOf(run({"get", shown[0].value("id", "")}), "get").value("title", ""),
      "Odd one");

  const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
      {{"get", list + "/post%2foffice%251"}, "Reminder not found"},
      {{"get", list + "/nothing"}, "Reminder not found"},
      {{"get", "eds:no-such-list/berlin"}, "Reminder not found"},
      {{"reminders", "eds:no-such-list"},
       "List not found with ID: eds:no-such-list"},
      {{"toggle", "eds:no-such-list/berlin", "true"}, "Reminder not found"},
  };
  for (const auto& [args, error] : errors)
    EXPECT_EQ(errorOf(run(args)), error) << args[1];
}

TEST_F(EdsTest, ToggleAndDeleteChangeWhatEdsHolds) {
  Eds& eds = Eds::instance();
  const std::string list = eds.makeList("Chores", "#000000");
  eds.add(list, todoText("sweep", "Sweep the floor",
                         {"CATEGORIES:home,floor",
                          "X-ODD-PROPERTY;X-P=\"a:b\":kept as it is"}));
  eds.add(list, todoText("dust", "Dust the shelves"));
  const std::string sweep = "eds:" + list + "/sweep";

  ASSERT_TRUE(succeeded(run({"toggle", sweep, "true"})));
  {
    auto objects = eds.objects(list);
    ASSERT_EQ(objects["sweep"].size(), 1u);
    ECalComponent* task = objects["sweep"][0].get();
    EXPECT_EQ(e_cal_component_get_status(task), I_CAL_STATUS_COMPLETED);
    ICalTime* completed = e_cal_component_get_completed(task);
    EXPECT_TRUE(completed);
    if (completed) g_object_unref(completed);
    EXPECT_EQ(e_cal_component_get_percent_complete(task), 100);
    EXPECT_NE(text(task).find("X-ODD-PROPERTY;X-P=\"a:b\":kept as it is"),
              std::string::npos)
        << text(task);
  }
  EXPECT_EQ(dataOf(run({"get", sweep}), "get").value("isCompleted", false),
            true);
  ASSERT_TRUE(succeeded(run({"toggle", sweep, "false"})));
  EXPECT_EQ(e_cal_component_get_status(eds.objects(list)["sweep"][0].get()),
            I_CAL_STATUS_NEEDSACTION);

  ASSERT_TRUE(succeeded(run({"delete", sweep})));
  auto left = eds.objects(list);
  EXPECT_EQ(left.count("sweep"), 0u);
  EXPECT_EQ(left.count("dust"), 1u);
  EXPECT_EQ(errorOf(run({"delete", sweep})), "Reminder not found");
}

// Another program changes the task between corvane's lookup and its
// write, or just before the write, after corvane's last read: the change
// is refused, and the other program's version stays.
TEST_F(EdsTest, AChangeByAnotherProgramInBetweenIsKept) {
  Eds& eds = Eds::instance();
  const std::string list = eds.makeList("Shared", "#000000");
  const std::string task = "eds:" + list + "/mop";
  Environment racing = environment_, racingWrite = environment_;
  racing["LD_PRELOAD"] = racingWrite["LD_PRELOAD"] = CORVANE_EDS_REWRITE_SHIM;
  racingWrite["EDS_SHIM_CHANGE_BEFORE_WRITE"] = "1";
  const std::vector<
      std::tuple<std::vector<std::string>, std::string, const Environment*>>
      cases = {
          {{"toggle", task, "true"}, "Error updating reminder: ", &racing},
          {{"delete", task}, "Error deleting reminder: ", &racing},
          {{"toggle", task, "true"}, "Error updating reminder: ", &racingWrite},
          {{"delete", task}, "Error deleting reminder: ", &racingWrite},
      };
  for (const auto& [args, prefix, environment] : cases) {
    eds.add(list, todoText("mop", "Mop the floor"));
    EXPECT_EQ(errorOf(runCorvane(args, *environment)),
              prefix +
                  "The reminder was changed by another program after corvane "
                  "read it; nothing was written.")
        << args[0];
    auto objects = eds.objects(list);
    ASSERT_EQ(objects["mop"].size(), 1u) << args[0];
    ECalComponent* mop = objects["mop"][0].get();
    EXPECT_NE(text(mop).find("SUMMARY:Changed by another program"),
              std::string::npos)
        << text(mop);
    EXPECT_NE(e_cal_component_get_status(mop), I_CAL_STATUS_COMPLETED);
    ASSERT_TRUE(succeeded(run({"delete", task})));
  }
}

TEST_F(EdsTest, CompletingARepeatingTaskMovesTheSeriesOn) {
  Eds& eds = Eds::instance();
  const std::string list = eds.makeList("Routines", "#000000");
  eds.add(list, todoText("water", "Water the plants",
                         {"DTSTART:20990105T090000Z", "DUE:20990105T090000Z",
                          "RRULE:FREQ=DAILY;COUNT=3"}));
  eds.add(list, todoText("water", "Water the plants twice",
                         {"RECURRENCE-ID:20990107T090000Z",
                          "DTSTART:20990107T090000Z", "DUE:20990107T100000Z"}));

  // Stopped between its two writes, as by a kill: the completed occurrence
  // is there, the series not yet moved; the next toggle only moves it.
  Environment stopping = environment_;
  stopping["LD_PRELOAD"] = CORVANE_EDS_REWRITE_SHIM;
  stopping["EDS_SHIM_STOP_AFTER_CREATE"] = "1";
  runCorvane({"toggle", "eds:" + list + "/water", "true"}, stopping);
  ASSERT_EQ(eds.objects(list).size(), 2u) << "the series and its copy";
  ASSERT_TRUE(succeeded(run({"toggle", "eds:" + list + "/water", "true"})));
  Json shown = dataOf(run({"reminders", "eds:" + list}), "reminders");
  ASSERT_EQ(shown.size(), 2u) << shown.dump(1);
  // The completed occurrence sorts before or after the series by its new
  // UID; either way there is one of each.
  const Json& series = shown[0].value("id", "") == "eds:" + list + "/water"
                           ? shown[0]
                           : shown[1];
  const Json& occurrence = &series == &shown[0] ? shown[1] : shown[0];
  EXPECT_EQ(series.value("dueDate", ""), "2099-01-06T09:00:00Z");
  EXPECT_EQ(series.value("isCompleted", true), false);
  EXPECT_EQ(series.value("hasRecurrenceRules", false), true);
  EXPECT_EQ(occurrence.value("dueDate", ""), "2099-01-05T09:00:00Z");
  EXPECT_EQ(occurrence.value("isCompleted", false), true);
  EXPECT_EQ(occurrence.value("hasRecurrenceRules", true), false);
  auto objects = eds.objects(list);
  ASSERT_EQ(objects["water"].size(), 2u) << "the overridden occurrence stays";
  EXPECT_NE(text(objects["water"][0].get()).find("COUNT=2"), std::string::npos)
      << text(objects["water"][0].get());
}

// A session bus without EDS, like none at all, leaves corvane as it is
// without EDS: the vdir's lists alone, its access status.
TEST_F(EdsTest, ABusWithoutEdsChangesNothing) {
  const auto config = store_.base() / "bus.conf";
  // The session bus's own configuration, less the folders of services
  // that it may start.
  std::ofstream(config)
      << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
         "<auth>EXTERNAL</auth><policy context=\"default\">"
         "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
  // A bus of its own: its address and its daemon's id.
  auto startBus = [&](const std::string& configuration) {
    RunResult daemon = runProgram("/usr/bin/dbus-daemon",
                                  {"dbus-daemon", configuration, "--fork",
                                   "--print-address=1", "--print-pid=1"},
                                  {{"PATH", "/usr/bin:/bin"}});
    return std::pair(
        daemon.out.substr(0, daemon.out.find('\n')),
        std::atoi(daemon.out.substr(daemon.out.find('\n') + 1).c_str()));
  };
  auto [address, pid] = startBus("--config-file=" + config.string());
  ASSERT_FALSE(address.empty());
  // A bus that could start EDS, where it does not run yet: corvane must
  // not be the one that starts it.
  auto [startingAddress, startingPid] = startBus("--session");
  ASSERT_FALSE(startingAddress.empty());

  // A bus that never answers is no bus either, and costs a run at most
  // the wait for its answer.
  SilentBus silent(store_.base() / "silent-bus");
  ASSERT_TRUE(silent.ready());

  Environment noBus = store_.environment();
  Environment emptyBus = noBus, silentBus = noBus, startingBus = noBus;
  emptyBus["DBUS_SESSION_BUS_ADDRESS"] = address;
  startingBus["DBUS_SESSION_BUS_ADDRESS"] = startingAddress;
  silentBus["DBUS_SESSION_BUS_ADDRESS"] = silent.address();
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"list"},
                                             {"check_permission_status"},
                                             {"get", "acct/home/overdue"},
                                             {"special_reminders", "today"}}) {
    const std::string alone = runCorvane(args, noBus).out;
    EXPECT_EQ(runCorvane(args, emptyBus).out, alone) << args[0];
    EXPECT_EQ(runCorvane(args, startingBus).out, alone) << args[0];
    TimedRun timed = timedRun(args, silentBus);
    EXPECT_EQ(timed.run.out, alone) << args[0];
    EXPECT_LT(timed.seconds, 5) << args[0];
  }
  EXPECT_EQ(dataOf(runCorvane({"list"}, noBus), "list").size(), 1u);
  RunResult owner =
      runProgram("/usr/bin/dbus-send",
                 {"dbus-send", "--bus=" + startingAddress, "--print-reply",
                  "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.NameHasOwner",
                  "string:org.gnome.evolution.dataserver.Sources5"},
                 {{"PATH", "/usr/bin:/bin"}});
  EXPECT_NE(owner.out.find("boolean false"), std::string::npos) << owner.out;
  for (int daemon : {pid, startingPid})
    if (daemon > 0) ::kill(daemon, SIGTERM);
}

// EDS on the bus but stopped: whatever needs it fails within the wait, a
// query over it too (it never succeeds with EDS's reminders left out),
// and a run that needs only the vdir is not delayed.
TEST_F(EdsTest, AStoppedEdsFailsInTime) {
  const std::string task = "eds:" + errands() + "/berlin";
  StoppedEds stopped;
  ASSERT_GE(stopped.count(), 2u) << "the registry and the calendar factory";
  struct Case {
    std::vector<std::string> args;
    std::string error;  // how the error begins; "" for any one envelope
    double seconds;
  };
  const std::vector<Case> cases = {
      {{"special_reminders", "today"}, "Unable to fetch reminders", 5},
      {{"special_reminders", "scheduled"}, "Unable to fetch reminders", 5},
      {{"reminders", "eds:" + errands()}, "Unable to fetch reminders", 5},
      {{"list"}, "", 5},
      {{"check_permission_status"}, "", 5},
      {{"get", task}, "", 5},
      {{"toggle", task, "true"}, "Error updating reminder: ", 5},
      {{"get", "acct/home/overdue"}, "", 1.5},
  };
  for (const auto& c : cases) {
    TimedRun timed = timedRun(c.args, environment_);
    Json envelope = envelopeOf(timed.run);
    EXPECT_TRUE(envelope.is_object()) << c.args[0] << ": " << timed.run.out;
    if (!c.error.empty()) {
      EXPECT_EQ(errorOf(timed.run).rfind(c.error, 0), 0u)
          << c.args[0] << ": " << errorOf(timed.run);
    }
    EXPECT_LT(timed.seconds, c.seconds) << c.args[0];
  }
  EXPECT_EQ(
      dataOf(timedRun({"get", "acct/home/overdue"}, environment_).run, "get")
          .value("title", ""),
      "Overdue in the vdir");
}

// A list whose client EDS opens read-only (a subscribed webcal list, a
// local file EDS may not change) is shown as one that cannot be changed,
// and its tasks refuse toggle and delete and stay as they are.
TEST_F(EdsTest, AReadOnlyListCannotBeChanged) {
  Eds& eds = Eds::instance();
  const std::string webcal = eds.makeWebcalList("Holidays");
  const std::string fixed = eds.makeListFromFile(
      "Fixed",
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tests//EN\r\n"
      "BEGIN:VTODO\r\nUID:kept\r\nSUMMARY:Kept as it is\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n",
      Eds::Changes::kRefused);
  Json lists = dataOf(run({"list"}), "list");
  for (const auto& [list, sourceType] :
       std::vector<std::pair<std::string, int>>{{webcal, 4}, {fixed, 0}}) {
    ASSERT_TRUE(eds.isReadOnly(list)) << list;
    auto found = std::ranges::find_if(lists, [&](const Json& record) {
      return record.value("calendarIdentifier", "") == "eds:" + list;
    });
    ASSERT_NE(found, lists.end()) << lists.dump(1);
    EXPECT_EQ(found->value("allowsContentModifications", true), false) << list;
    EXPECT_EQ((*found)["source"].value("sourceType", -1), sourceType) << list;
  }

  const std::string task = "eds:" + fixed + "/kept";
  const std::string before = text(eds.objects(fixed)["kept"][0].get());
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"toggle", task, "true"}, "Error updating reminder: "},
      {{"delete", task}, "Error deleting reminder: "},
  };
  for (const auto& [args, prefix] : cases) {
    EXPECT_EQ(errorOf(run(args)),
              prefix + "The list is read-only; nothing was written.")
        << args[0];
    auto objects = eds.objects(fixed);
    ASSERT_EQ(objects["kept"].size(), 1u) << args[0];
    EXPECT_EQ(text(objects["kept"][0].get()), before) << args[0];
  }
}

}  // namespace
}  // namespace corvane::e2e
