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
  // A session with EDS's source registry; null when no EDS answers on the
  // session bus. The bus is the one GLib finds; it is never started here.
  static std::unique_ptr<EdsSession> connect();

  // Every enabled task list, ordered by account title, list title and
  // source UID. Each list's client is opened to learn whether it can be
  // changed; a list that cannot be opened is shown as unchangeable.
  std::vector<ReminderList> taskLists();
  // The enabled task list with that source UID, or absent.
  std::optional<ReminderList> taskList(const std::string& sourceUid);
  // The source UIDs of every enabled task list, in the order of taskLists.
  std::vector<std::string> taskListUids();

  // The open client of the task list with that source UID, or the reason
  // it cannot be opened (in EDS's words).
  Result<ECalClient*> client(const std::string& sourceUid);

  // The text of the VTIMEZONE that the list's client knows by `tzid`;
  // "" when it knows none.
  const std::string& zoneText(ECalClient* client, const std::string& tzid);

 private:
  explicit EdsSession(GObjectPtr<ESourceRegistry> registry)
      : registry_(std::move(registry)) {}
  // The enabled task-list source with that UID, or null.
  GObjectPtr<ESource> taskListSource(const std::string& sourceUid);
  Result<ECalClient*> clientOf(ESource* source);

  struct Opened {
    GObjectPtr<ECalClient> client;  // null when opening failed
    std::string failure;
  };
  static Opened open(ESource* source);
  // Opens the clients of the sources (a list of ESource) not opened yet.
  void openAll(GList* sources);

  GObjectPtr<ESourceRegistry> registry_;
  std::map<std::string, Opened> clients_;  // by source UID
  std::map<std::pair<ECalClient*, std::string>, std::string> zones_;
};

}  // namespace corvane
