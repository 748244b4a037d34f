// The one failure mechanism of corvane: a value, or a failure saying what
// kind of failure it is and, in plain English, why. Absence that is normal
// is std::optional instead.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace corvane {

// What went wrong, for code to act on; the reason is for people only, and
// no code compares it.
enum class FailureKind {
  kOther,
  // The thing named is not there (or is not a reminder or list).
  kNotFound,
  // The system refused this process (file permissions).
  kDenied,
  // Another program changed or removed it since this process read it.
  kChanged,
  // Something of that name is there already.
  kExists,
  // The list may not be changed.
  kReadOnly,
  // The store is there but could not be read or did not answer: an
  // input/output error, a service that failed or timed out.
  kUnavailable,
  // Too few descriptors or processes for now; trying again later may work.
  kExhausted,
  // Memory ran out.
  kNoMemory,
};

struct Failure {
  Failure(std::string why, FailureKind what = FailureKind::kOther)
      : reason(std::move(why)), kind(what) {}
  Failure(const char* why, FailureKind what = FailureKind::kOther)
      : reason(why), kind(what) {}

  std::string reason;  // plain English, shown to the user after a prefix
  FailureKind kind;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Failure failure) : state_(std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const { return std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  const Failure& failure() const { return std::get<1>(state_); }
  const std::string& reason() const { return failure().reason; }
  FailureKind kind() const { return failure().kind; }

 private:
  std::variant<T, Failure> state_;
};

// A change that either happened or failed with a reason.
struct Done {};
using Outcome = Result<Done>;
inline Outcome done() { return Done{}; }

}  // namespace corvane
