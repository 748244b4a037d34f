// How the program meets memory running out, in its own code and in every
// library it runs (libical, the C library, GLib): a reserve handed back at
// the first failure, then C++ code gets its bad_alloc and any other caller
// ends the run with the command's own failure envelope.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

// Takes the reserve and remembers `envelope` (a fixed text that outlives
// the run) as what is printed when an allocation outside C++ fails for
// good. Until it is called, a failed allocation fails as the C library's
// does.
void prepareForMemoryExhaustion(std::string_view envelope) noexcept;

// Counts `bytes` of the answer handed to standard output's stdio buffer:
// once a part of the answer has left the buffer, a failure can no longer
// print the envelope after it, which would make a second document.
void countAnswerBytes(size_t bytes) noexcept;

// Hands the reserve back to the allocator; false when it was gone already.
bool releaseMemoryReserve() noexcept;

}  // namespace corvane
