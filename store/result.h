// The one failure mechanism of corvane: a value, or an English reason why
// there is none. Absence that is normal is std::optional instead.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace corvane {

struct Failure {
  std::string reason;  // plain English, shown to the user after a prefix
};

template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Failure failure) : state_(std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const T& value() const { return std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  const std::string& reason() const { return std::get<1>(state_).reason; }

 private:
  std::variant<T, Failure> state_;
};

// A change that either happened or failed with a reason.
struct Done {};
using Outcome = Result<Done>;
inline Outcome done() { return Done{}; }

}  // namespace corvane
