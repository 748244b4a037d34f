#include "app/command_failures.h"

#include <gtest/gtest.h>

#include "app/json_writer.h"

namespace corvane {
namespace {

// The fixed failure texts are what the printer makes of them, byte for
// byte, and each is a failure.
TEST(CommandFailuresTest, FailureEnvelopesAreInThePrintersForm) {
  for (const char* command :
       {"request_access", "list", "reminders", "toggle", "delete", "get",
        "check_permission_status", "special_reminders"}) {
    for (size_t count : {0, 1, 2, 3}) {
      std::string_view text = failureEnvelope(command, count);
      ASSERT_FALSE(text.empty()) << command << " " << count;
      JsonValue envelope = JsonValue::parse(text);
      EXPECT_EQ(writePrettyJson(envelope).value() + "\n", text)
          << command << " " << count;
      EXPECT_EQ(envelope["success"], false) << command;
      if (auto error = argumentError(command, count)) {
        EXPECT_EQ(envelope["error"], *error) << command << " " << count;
      }
    }
  }
  EXPECT_EQ(failureEnvelope("LIST", 0), "");
}

}  // namespace
}  // namespace corvane
