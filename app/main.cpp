// corvane <command> [args...]: one command against the reminder store, one
// JSON envelope on standard output.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/allocation_hooks.h"
#include "app/command_failures.h"
#include "app/corvane.h"
#include "store/utf8.h"

namespace {

void writeToStandardOutput(std::string_view piece, bool ends) {
  // Counted once written: stdio takes its buffer at the first write.
  std::fwrite(piece.data(), 1, piece.size(), stdout);
  corvane::countAnswerBytes(piece.size());
  if (ends) std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away must not turn into a signal death.
  std::signal(SIGPIPE, SIG_IGN);
  // Nor a file-size limit: the write fails with EFBIG instead, which ends
  // in an envelope with the reason and the temporary file removed.
  std::signal(SIGXFSZ, SIG_IGN);
  // Standard error belongs to nobody: whatever a library might say there is
  // dropped, so a caller only ever sees the one envelope.
  if (int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
    ::dup2(null, STDERR_FILENO);
    if (null != STDERR_FILENO) ::close(null);
  }
  if (argc < 2) {
    // Plain text, not JSON: the path is printed as it was invoked.
    const char* program = argc > 0 && argv[0] ? argv[0] : "corvane";
    std::printf("Usage: %s <command> [args...]\n", program);
    return 1;
  }
  // Known before anything is allocated, so that it can always be printed.
  const std::string_view failure =
      corvane::failureEnvelope(argv[1], static_cast<size_t>(argc - 2));
  const std::string_view lastWord =
      failure.empty() ? corvane::kFallbackEnvelope : failure;
  // A reserve of memory, handed back when an allocation first fails: C++
  // code then gets its bad_alloc, and unwinding (which frees JSON trees
  // through a stack it allocates) and the failure's envelope find memory
  // to finish with; any other caller's failure ends the run with that
  // envelope.
  corvane::prepareForMemoryExhaustion(lastWord);
  std::set_new_handler([] {
    corvane::releaseMemoryReserve();
    std::set_new_handler(nullptr);
    throw std::bad_alloc();
  });
  std::string command;
  std::vector<std::string> commandArgs;
  std::optional<corvane::Corvane> app;
  try {
    // Everything that reaches an envelope is valid UTF-8.
    command = corvane::repairUtf8(argv[1]);
    for (int i = 2; i < argc; ++i)
      commandArgs.push_back(corvane::repairUtf8(argv[i]));
    app.emplace(writeToStandardOutput);
  } catch (...) {
    // Nothing was printed yet; once built, `run` answers on every path.
    std::fwrite(lastWord.data(), 1, lastWord.size(), stdout);
    return 0;
  }
  app->run(command, commandArgs);
  return 0;
}
