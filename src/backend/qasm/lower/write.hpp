// The lowering front end's writer: plain statements -> program text in the form the
// importer reads. Numbers are written in the shortest form that reads back to the same
// double, so nothing is lost between lowering and importing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane::qasm3::detail::lower {

// One qubit or bit as written: `name[index]`, or the bare name (a scalar register, or a
// gate argument inside a definition) when `index` is NO_INDEX.
struct PlainOperand {
  static constexpr std::int64_t NO_INDEX = -1;
  std::string_view name;
  std::int64_t index = NO_INDEX;
};

// A gate call with its controls resolved: one modifier per control (1: `ctrl @`,
// 0: `negctrl @`), controls first among the operands.
struct PlainCall {
  std::span<const std::uint8_t> controls;
  std::string_view name;
  bool has_parameters = false;
  std::span<const double> parameters;
  std::span<const PlainOperand> operands;
};

class Writer {
 public:
  // `expected_bytes`: about how long the program will be, reserved at once so that a long
  // program is not copied as it grows.
  explicit Writer(std::size_t expected_bytes = 0);

  void qubit_declaration(std::string_view name, std::optional<std::int64_t> size);
  void bit_declaration(std::string_view name, std::optional<std::int64_t> size);
  void begin_definition(std::string_view name, std::span<const std::string_view> arguments);
  void end_definition();
  void call(const PlainCall& call);
  // `bit = measure qubit;`, or `measure qubit;` when the result is discarded.
  void measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit);
  void reset(const PlainOperand& qubit);

  // The program written so far; the writer is empty afterwards.
  std::string take();

 private:
  void declaration(std::string_view type, std::string_view name, std::optional<std::int64_t> size);
  void indent();
  void operand(const PlainOperand& operand);

  std::string out_;
  bool in_definition_ = false;
};

}  // namespace corvane::qasm3::detail::lower
