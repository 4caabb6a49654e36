// What a step of the run gives back: its answer, or the failure that kept it
// from finding one out. "No such file" is an answer (the path has no short
// form); running out of descriptors or memory, or an I/O error, is a failure.
#pragma once

#include <cstddef>
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

// What a question about a path gives back, one of three: a name (the entry a
// pattern matches, a short form), none (there is no such entry or short
// form: the run answers "bAd"), or the failure that kept the answer from
// being found out.
class Found {
 public:
  static Found name(std::string text) { return Found(std::in_place_index<0>, std::move(text)); }
  static Found none() { return Found(std::in_place_index<1>, None{}); }
  // From a question that cannot fail.
  static Found nameOrNone(std::optional<std::string> text) {
    return text ? name(std::move(*text)) : none();
  }
  Found(Failure failure) : value_(std::in_place_index<2>, std::move(failure)) {}

  bool hasName() const { return value_.index() == 0; }
  bool isNone() const { return value_.index() == 1; }
  bool failed() const { return value_.index() == 2; }
  const std::string& name() const { return std::get<0>(value_); }
  std::string& name() { return std::get<0>(value_); }
  const Failure& failure() const { return std::get<2>(value_); }
  // The name where there is one: where none and a failure are alike.
  std::optional<std::string> nameIfAny() const { return hasName() ? std::optional<std::string>(name()) : std::nullopt; }

 private:
  struct None {};
  template <std::size_t index, class Value>
  Found(std::in_place_index_t<index> at, Value value) : value_(at, std::move(value)) {}

  std::variant<std::string, None, Failure> value_;
};

}  // namespace GetVEK
