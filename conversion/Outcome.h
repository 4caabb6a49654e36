// What a step of the run gives back: its answer, or the failure that kept it
// from finding one out. "No such file" is an answer (the path has no short
// form); running out of descriptors or memory, or an I/O error, is a failure.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace GetVEK {

// Reported as "getvek: cannot <action>: <reason>".
struct Failure {
  std::string action;  // what could not be done, and on what: "open /opt/app/VEK.TX"
  std::string reason;  // the system's message
  // Another run held the program directory, or its result was still there:
  // the same run may succeed later without anything being changed.
  bool worthRetrying = false;
};

// Nothing when the step was done.
using Status = std::optional<Failure>;

template <class T>
class Outcome {
 public:
  Outcome(T value) : value_(std::in_place_index<0>, std::move(value)) {}
  Outcome(Failure failure) : value_(std::in_place_index<1>, std::move(failure)) {}

  bool failed() const { return value_.index() == 1; }
  const Failure& failure() const { return std::get<1>(value_); }
  const T& operator*() const { return std::get<0>(value_); }
  T& operator*() { return std::get<0>(value_); }
  const T* operator->() const { return &std::get<0>(value_); }

 private:
  std::variant<T, Failure> value_;
};

// A name or path, or nothing when there is none to give.
using Found = Outcome<std::optional<std::string>>;

}  // namespace GetVEK
