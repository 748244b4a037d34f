// What a command answers when it cannot run: the argument errors of the
// command table, and the envelope it prints when it cannot finish.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The message for a command word and argument count that do not fit the
// command table ("Unknown command: ..." for a word it does not have);
// absent when they fit.
std::optional<std::string> argumentError(const std::string& command,
                                         size_t count);

// The whole envelope, final line feed included, that a run of `command`
// with `count` arguments prints when memory or threads run out before it
// has answered: the command's own failure ("Unable to fetch reminders" for
// a query, the change's prefix and the reason for toggle and delete), or
// its argument error. Fixed texts, so that printing one takes no memory;
// empty for a word the command table does not have, whose only work is to
// print its error.
std::string_view failureEnvelope(std::string_view command, size_t count);

}  // namespace corvane
