// The system's error numbers as failures: a kind that code acts on and a
// sentence for people. Safe on any thread (no static buffer is involved).
#pragma once

#include <string>

#include "store/result.h"

namespace corvane {

// What kind of failure the error number `error` is: a refusal of this
// process, a missing entry, a full descriptor table and so on.
FailureKind kindOfError(int error);

// The system's reason for `error` as a sentence, never a bare number.
std::string reasonForError(int error);

// Both of the above.
Failure systemFailure(int error);

}  // namespace corvane
