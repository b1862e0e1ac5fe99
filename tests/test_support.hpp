// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "corvane/backend/qasm/qasm3.hpp"

// Expects `stmt` to throw exactly `Kind` (a corvane::qasm3 error class) with message `msg`.
#define EXPECT_THROW_MSG(stmt, Kind, msg)                                            \
  do {                                                                               \
    try {                                                                            \
      stmt;                                                                          \
      ADD_FAILURE() << "expected " #Kind " \"" << (msg) << "\", nothing was thrown"; \
    } catch (const corvane::qasm3::Kind& e_) {                                       \
      EXPECT_EQ(std::string(e_.what()), std::string(msg));                           \
    } catch (const corvane::qasm3::Error& e_) {                                      \
      ADD_FAILURE() << "expected " #Kind ", got " << e_.kind() << ": " << e_.what(); \
    }                                                                                \
  } while (false)

// Kind name and message of the error `fn` raises, as "<Kind>: <message>"; "ok" if none.
// With `placed`, behind "<line>:<column>: " when the error has a place in the program text.
template <class Fn>
std::string outcome_of(Fn&& fn, bool placed = false) {
  try {
    fn();
    return "ok";
  } catch (const corvane::qasm3::Error& e) {
    const auto& where = e.location();
    const std::string place =
        placed && where ? std::to_string(where->line) + ":" + std::to_string(where->column) + ": "
                        : "";
    return place + e.kind() + ": " + e.what();
  }
}

// `times` copies of `piece`, for the long and hostile inputs.
inline std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    out.append(piece);
  return out;
}
