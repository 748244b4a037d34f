#include "app/command_failures.h"

namespace corvane {

std::optional<std::string> argumentError(const std::string& command,
                                         size_t count) {
  if (command == "request_access" || command == "list" ||
      command == "check_permission_status")
    return std::nullopt;
  if (command == "reminders")
    return count == 0 ? std::optional<std::string>(
                            "List ID is required for 'reminders' command. "
                            "Usage: reminders <list_id> [completion_status] "
                            "[sort_by]")
                      : std::nullopt;
  if (command == "special_reminders")
    return count == 0 ? std::optional<std::string>(
                            "Special list ID is required. Usage: "
                            "special_reminders <list_id> [completion_status] "
                            "[sort_by]")
                      : std::nullopt;
  if (command == "toggle")
    return count == 2 ? std::nullopt
                      : std::optional<std::string>(
                            "Reminder ID and completion status are required "
                            "for 'toggle' command");
  if (command == "delete" || command == "get")
    return count == 1
               ? std::nullopt
               : std::optional<std::string>("Reminder ID is required for '" +
                                            command + "' command");
  return "Unknown command: " + command;
}

std::string_view failureEnvelope(std::string_view command, size_t count) {
  // {"success": false, "error": <text>} in the printer's form; the unit
  // test holds each text to the printer's output.
#define CORVANE_FAILURE(text) \
  "{\n  \"success\" : false,\n  \"error\" : \"" text "\"\n}\n"
  const bool queries = command == "reminders" || command == "special_reminders";
  if (queries && count == 0)
    return command == "reminders"
               ? CORVANE_FAILURE(
                     "List ID is required for 'reminders' command. Usage: "
                     "reminders <list_id> [completion_status] [sort_by]")
               : CORVANE_FAILURE(
                     "Special list ID is required. Usage: special_reminders "
                     "<list_id> [completion_status] [sort_by]");
  if (queries) return CORVANE_FAILURE("Unable to fetch reminders");
  if (command == "toggle")
    return count == 2 ? CORVANE_FAILURE(
                            "Error updating reminder: Cannot allocate memory")
                      : CORVANE_FAILURE(
                            "Reminder ID and completion status are required "
                            "for 'toggle' command");
  if (command == "delete")
    return count == 1 ? CORVANE_FAILURE(
                            "Error deleting reminder: Cannot allocate memory")
                      : CORVANE_FAILURE(
                            "Reminder ID is required for 'delete' command");
  if (command == "get")
    // The look-up has no failure of its own: what it cannot read is not
    // found.
    return count == 1
               ? CORVANE_FAILURE("Reminder not found")
               : CORVANE_FAILURE("Reminder ID is required for 'get' command");
  if (command == "list" || command == "check_permission_status")
    // No failure of their own either; an answer they cannot finish is not
    // a success, and says why.
    return CORVANE_FAILURE("Cannot allocate memory");
#undef CORVANE_FAILURE
  // A refused access request is "success" false alone.
  if (command == "request_access") return "{\n  \"success\" : false\n}\n";
  return {};
}

}  // namespace corvane
