// One run's connection to Evolution Data Server: its source registry and a
// client for each task list, each opened once and reused. Not safe for use
// from several threads at once; the EDS store calls it under its lock.
#pragma once

#include <libecal/libecal.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/eds/glib_ptr.h"
#include "store/reminder_list.h"
#include "store/result.h"

namespace corvane {

class EdsSession {
 public:
  // A session with EDS's source registry; null when there is no EDS: no
  // bus that answers in time (store/eds/eds_calls.h), or no EDS on it. The
  // bus is the one GLib finds; it is never started here. An EDS that is on
  // the bus but fails or does not answer gives a session whose every call
  // fails kUnavailable.
  static std::unique_ptr<EdsSession> connect();

  // Every enabled task list, ordered by account title, list title and
  // source UID. Each list's client is opened to learn whether it can be
  // changed: a list whose client cannot be opened, or is read-only, is
  // shown as unchangeable; an EDS that does not answer is a failure.
  Result<std::vector<ReminderList>> taskLists();
  // The enabled task list with that source UID; absent when there is none.
  Result<std::optional<ReminderList>> taskList(const std::string& sourceUid);

  // The open client of the task list with that source UID; kNotFound when
  // there is no such list, EDS's failure to open it otherwise.
  Result<ECalClient*> client(const std::string& sourceUid);

  // The text of the VTIMEZONE that the list's client knows by `tzid`;
  // "" when it knows none or does not answer.
  const std::string& zoneText(ECalClient* client, const std::string& tzid);

 private:
  explicit EdsSession(GObjectPtr<ESourceRegistry> registry)
      : registry_(std::move(registry)) {}
  explicit EdsSession(Failure unavailable)
      : unavailable_(std::move(unavailable)) {}
  // The enabled task-list source with that UID, or null.
  GObjectPtr<ESource> taskListSource(const std::string& sourceUid);
  Result<ECalClient*> clientOf(ESource* source);
  // The list of `source` as the store describes it; a failure only when
  // EDS does not answer.
  Result<ReminderList> describe(ESource* source);

  struct Opened {
    GObjectPtr<ECalClient> client;  // null when opening failed
    std::optional<Failure> failure;
  };
  static Opened open(ESource* source);
  // Opens the clients of the sources (a list of ESource) not opened yet.
  void openAll(GList* sources);

  GObjectPtr<ESourceRegistry> registry_;  // null when unavailable
  std::optional<Failure> unavailable_;
  std::map<std::string, Opened> clients_;  // by source UID
  std::map<std::pair<ECalClient*, std::string>, std::string> zones_;
};

}  // namespace corvane
