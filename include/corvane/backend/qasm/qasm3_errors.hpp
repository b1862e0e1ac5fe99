// The errors of the conversions and the bounds they keep to, apart from the conversions
// themselves so that the gate model, which raises some of them, needs nothing above it.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::qasm3 {

// A place in a program text: line and column count from 1 (columns in Unicode code
// points, a tab being one), offset is the 0-based byte offset. `file` is the path of the
// file the place is in when that is a file the program includes (as it was found: the
// including file's folder or a search folder joined with the name the program wrote),
// empty for the program itself.
struct Location {
  std::size_t line = 0;
  std::size_t column = 0;
  std::size_t offset = 0;
  std::string file = {};
  friend bool operator==(const Location&, const Location&) = default;
};

// Base of every error the converter raises. kind() names the error class
// ("ValueError", "NotImplementedError", ...); what() is the exact message, which
// never includes the place; location() is where in the program text the error
// arose, empty for errors that belong to no one place (and for every export error).
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  [[nodiscard]] virtual const char* kind() const noexcept = 0;
  [[nodiscard]] const std::optional<Location>& location() const noexcept { return location_; }
  // Readers attach the place where they catch an error on its way out of a statement
  // or an expression; the innermost place, attached first, is the one that stays.
  // Taken by value, so that a copy that cannot be made fails where it is made.
  void set_location_once(Location where) noexcept {
    if (!location_) location_ = std::move(where);
  }
  // The reader of an included file names it in the place of an error found in its text,
  // where the place names no file yet.
  void set_file_once(const std::string& file) {
    if (location_ && location_->file.empty()) location_->file = file;
  }
  // The record of a gate sequence that an export failed on: its index among the
  // sequence's gates, then, for a record inside blocks, its index among each block's gates
  // down to the innermost record (an else-block's records numbered after its block's). Empty for a
  // failure that belongs to no one record (the register layout, the sequence as a whole) and for
  // every import error.
  [[nodiscard]] const std::vector<std::size_t>& record_path() const noexcept {
    return record_path_;
  }
  // The exporter adds the index of each record that the error leaves, innermost first.
  void add_enclosing_record(std::size_t index) { record_path_.insert(record_path_.begin(), index); }

 private:
  std::optional<Location> location_;
  std::vector<std::size_t> record_path_;
};

// The class name cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define CORVANE_QASM3_ERROR_KIND(Name)                                         \
  class Name : public Error {                                                  \
   public:                                                                     \
    using Error::Error;                                                        \
    [[nodiscard]] const char* kind() const noexcept override { return #Name; } \
  };

// Malformed or inconsistent input.
CORVANE_QASM3_ERROR_KIND(ValueError)
// A construct the converter does not support.
CORVANE_QASM3_ERROR_KIND(NotImplementedError)
// The definition scan gave up on a pathological text.
CORVANE_QASM3_ERROR_KIND(RuntimeError)
// An argument of the wrong kind.
CORVANE_QASM3_ERROR_KIND(TypeError)
// A parameter expression that is not well formed.
CORVANE_QASM3_ERROR_KIND(SyntaxError)
// A parameter expression divides by zero.
CORVANE_QASM3_ERROR_KIND(ZeroDivisionError)
// A number in a parameter expression is too large.
CORVANE_QASM3_ERROR_KIND(OverflowError)
// Nesting (blocks, definitions) deeper than the converter processes.
CORVANE_QASM3_ERROR_KIND(RecursionError)

// NOLINTEND(bugprone-macro-parentheses)
#undef CORVANE_QASM3_ERROR_KIND

// The deepest nesting of blocks in blocks (and of definitions calling definitions) that
// the conversions follow; one level deeper fails with RecursionError(RECURSION_MESSAGE).
inline constexpr int MAX_NESTING_DEPTH = 1000;
inline constexpr std::string_view RECURSION_MESSAGE = "maximum recursion depth exceeded";

}  // namespace corvane::qasm3
