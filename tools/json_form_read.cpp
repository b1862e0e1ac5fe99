// Reading the JSON form: one pass over the text that builds the records as it goes, with
// no document tree in between, so that a large sequence never exists twice in memory.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "corvane/backend/qasm/text_forms.hpp"
#include "json_form.hpp"

namespace corvane::qasm3::cli {
namespace {

// What a JSON value is, told by its first byte.
enum class ValueKind { Object, Array, String, Boolean, Null, Number };

// A number as written: JSON's own form, or Infinity, -Infinity or NaN.
struct NumberText {
  std::string_view text;
  bool integral;  // without fraction, exponent or word
};

// What a top-level record of an imported program takes in the text import writes, a
// little less than the gate mix of the benchmarks (125 bytes) needs.
constexpr std::size_t TYPICAL_RECORD_BYTES = 100;

// How far the reader reads between two offers of the text behind it.
constexpr std::size_t SPARE_STEP = std::size_t{8} << 20;

// The syntax of JSON over a text read in place. Every fault in it is a ValueError
// "Invalid JSON: <reason>" with the place of the fault.
class JsonCursor {
 public:
  explicit JsonCursor(std::string_view text) noexcept : text_(text) {}

  [[nodiscard]] std::size_t offset() const noexcept { return pos_; }

  // The next byte after whitespace; '\0' at the end of the text.
  char peek() noexcept {
    while (pos_ < text_.size() && is_space(text_[pos_]))
      ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }

  bool take(char c) noexcept {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }

  // The kind of the value that comes next.
  ValueKind kind() {
    const char c = peek();
    switch (c) {
      case '{':
        return ValueKind::Object;
      case '[':
        return ValueKind::Array;
      case '"':
        return ValueKind::String;
      case 't':
      case 'f':
        return ValueKind::Boolean;
      case 'n':
        return ValueKind::Null;
      case '-':
      case 'I':
      case 'N':
        return ValueKind::Number;
      default:
        if (c >= '0' && c <= '9') return ValueKind::Number;
        fail_unexpected();
    }
  }

  bool take_null() {
    if (peek() != 'n') return false;
    word("null");
    return true;
  }

  bool boolean() {
    if (peek() == 't') {
      word("true");
      return true;
    }
    word("false");
    return false;
  }

  // Calls element() at each element of the array that comes next.
  template <class Element>
  void each_element(Element&& element) {
    ++pos_;  // the '[' that kind() saw
    if (take(']')) return;
    do {
      element();
    } while (take(','));
    if (!take(']')) fail_expected("',' or ']'");
  }

  // Calls member(key) at the value of each member of the object that comes next.
  template <class Member>
  void each_member(Member&& member) {
    ++pos_;  // the '{' that kind() saw
    if (take('}')) return;
    do {
      if (peek() != '"') fail_expected("a key in double quotes");
      const std::string_view name = key();
      if (!take(':')) fail_expected("':'");
      member(name);
    } while (take(','));
    if (!take('}')) fail_expected("',' or '}'");
  }

  // Reads the string that comes next into `out` (replacing what it held).
  void string(std::string& out) {
    out.clear();
    ++pos_;  // the opening quote
    while (true) {
      const std::size_t start = pos_;
      while (pos_ < text_.size() && is_plain_string_byte(text_[pos_]))
        ++pos_;
      out.append(text_.substr(start, pos_ - start));
      if (pos_ == text_.size()) fail("unterminated string");
      if (text_[pos_] == '"') break;
      if (text_[pos_] != '\\') fail("control character in a string");
      escape(out);
    }
    ++pos_;
  }

  NumberText number() {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (starts_with("Infinity") || (pos_ == start && starts_with("NaN"))) {
      pos_ += text_[pos_] == 'I' ? 8 : 3;
      return {text_.substr(start, pos_ - start), false};
    }
    const std::size_t int_start = pos_;
    if (!digits() || (text_[int_start] == '0' && pos_ - int_start > 1)) {
      fail_at(start, "invalid number");
    }
    bool integral = true;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!digits()) fail_at(start, "invalid number");
      integral = false;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!digits()) fail_at(start, "invalid number");
      integral = false;
    }
    return {text_.substr(start, pos_ - start), integral};
  }

  // After the value: nothing but whitespace may follow.
  void expect_end() {
    if (peek() != '\0' || pos_ != text_.size()) fail("unexpected text after the gate sequence");
  }

  [[noreturn]] void fail(std::string_view reason) const { fail_at(pos_, reason); }

 private:
  static bool is_space(char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
  static bool is_plain_string_byte(char c) noexcept {
    return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20;
  }
  [[nodiscard]] bool starts_with(std::string_view word) const noexcept {
    return text_.substr(pos_).starts_with(word);
  }

  // Whether one or more decimal digits were read.
  bool digits() noexcept {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
      ++pos_;
    return pos_ > start;
  }

  void word(std::string_view expected) {
    if (!starts_with(expected)) fail("invalid literal");
    pos_ += expected.size();
  }

  // A key is used only until the next key is read, so one without escapes is a view
  // of the text.
  std::string_view key() {
    const std::size_t start = pos_ + 1;
    std::size_t end = start;
    while (end < text_.size() && is_plain_string_byte(text_[end]))
      ++end;
    if (end < text_.size() && text_[end] == '"') {
      pos_ = end + 1;
      return text_.substr(start, end - start);
    }
    string(key_);
    return key_;
  }

  // At a backslash in a string.
  void escape(std::string& out) {
    const std::size_t start = pos_;
    ++pos_;
    const char c = pos_ < text_.size() ? text_[pos_++] : '\0';
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return;
      case 'b':
        out += '\b';
        return;
      case 'f':
        out += '\f';
        return;
      case 'n':
        out += '\n';
        return;
      case 'r':
        out += '\r';
        return;
      case 't':
        out += '\t';
        return;
      case 'u':
        append_utf8(out, escaped_code_point(start));
        return;
      default:
        fail_at(start, "invalid escape");
    }
  }

  // After "\u": four hex digits, and for a high surrogate the low one that must follow.
  char32_t escaped_code_point(std::size_t start) {
    const char32_t unit = hex4(start);
    if (unit >= 0xDC00 && unit <= 0xDFFF) fail_at(start, "unpaired surrogate");
    if (unit < 0xD800 || unit > 0xDBFF) return unit;
    if (!starts_with("\\u")) fail_at(start, "unpaired surrogate");
    pos_ += 2;
    const char32_t low = hex4(start);
    if (low < 0xDC00 || low > 0xDFFF) fail_at(start, "unpaired surrogate");
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }

  char32_t hex4(std::size_t start) {
    unsigned value = 0;
    const char* first = text_.data() + pos_;
    const char* last = text_.data() + std::min(pos_ + 4, text_.size());
    const auto [stop, error] = std::from_chars(first, last, value, 16);
    if (error != std::errc() || stop != first + 4) {
      fail_at(start, "invalid \\u escape");
    }
    pos_ += 4;
    return value;
  }

  [[noreturn]] void fail_expected(std::string_view expected) const {
    if (pos_ == text_.size()) fail("unexpected end of input");
    fail("expected " + std::string(expected));
  }

  [[noreturn]] void fail_unexpected() const {
    if (pos_ == text_.size()) fail("unexpected end of input");
    const auto byte = static_cast<unsigned char>(text_[pos_]);
    if (byte >= 0x20 && byte < 0x7F)
      fail("unexpected character '" + std::string(1, text_[pos_]) + "'");
    constexpr std::string_view HEX_DIGITS = "0123456789abcdef";
    fail(std::string("unexpected byte \\x") + HEX_DIGITS[byte >> 4] + HEX_DIGITS[byte & 0xF]);
  }

  // The error carries its place.
  [[noreturn]] void fail_at(std::size_t offset, std::string_view reason) const {
    ValueError error("Invalid JSON: " + std::string(reason));
    error.set_location_once(place_in_text(text_, offset));
    throw error;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string key_;
};

double to_double(NumberText number) {
  const std::string_view text = number.text;
  if (text.back() == 'y') {  // Infinity
    return text.front() == '-' ? -std::numeric_limits<double>::infinity()
                               : std::numeric_limits<double>::infinity();
  }
  if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
  double value = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc()) {
    return value;
  }
  // Beyond the range of a double: strtod gives the infinity or the zero (or subnormal)
  // it rounds to, as JSON readers elsewhere do.
  return std::strtod(std::string(text).c_str(), nullptr);
}

std::optional<std::int64_t> to_integer(NumberText number) {
  std::int64_t value = 0;
  const std::string_view text = number.text;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size()) return std::nullopt;
  return value;
}

enum class GateKey {
  Id,
  Target,
  Control,
  ControlState,
  Parameter,
  ClassicalTarget,
  BlockGateSequence,
  Name,
  Matrix,
  StoredMatrix,
  Condition,
  ElseGateSequence
};

// The value of `key`'s row of `keys`, or nothing.
template <class Key, std::size_t N>
std::optional<Key> lookup(const std::pair<std::string_view, Key> (&keys)[N], std::string_view key) {
  for (const auto& [name, value] : keys) {
    if (name == key) return value;
  }
  return std::nullopt;
}

std::optional<GateKey> gate_key(std::string_view key) {
  static constexpr std::pair<std::string_view, GateKey> KEYS[] = {
      {"id", GateKey::Id},
      {"target", GateKey::Target},
      {"control", GateKey::Control},
      {"control_state", GateKey::ControlState},
      {"parameter", GateKey::Parameter},
      {"classical_target", GateKey::ClassicalTarget},
      {"block_gate_sequence", GateKey::BlockGateSequence},
      {"name", GateKey::Name},
      {"matrix", GateKey::Matrix},
      {"stored_matrix", GateKey::StoredMatrix},
      {"condition", GateKey::Condition},
      {"else_gate_sequence", GateKey::ElseGateSequence},
  };
  return lookup(KEYS, key);
}

enum class SequenceKey {
  NumQubits,
  Gates,
  QuantumRegisters,
  ClassicalRegisters,
  MeasureMap,
  Inputs
};

std::optional<SequenceKey> sequence_key(std::string_view key) {
  static constexpr std::pair<std::string_view, SequenceKey> KEYS[] = {
      {"num_qubits", SequenceKey::NumQubits},
      {"gates", SequenceKey::Gates},
      {"qasm_quantum_registers", SequenceKey::QuantumRegisters},
      {"qasm_classical_registers", SequenceKey::ClassicalRegisters},
      {"qasm_measure_map", SequenceKey::MeasureMap},
      {"qasm_inputs", SequenceKey::Inputs},
  };
  return lookup(KEYS, key);
}

enum class ConditionKey { Bits, Compare, Value };

std::optional<ConditionKey> condition_key(std::string_view key) {
  static constexpr std::pair<std::string_view, ConditionKey> KEYS[] = {
      {"bits", ConditionKey::Bits},
      {"compare", ConditionKey::Compare},
      {"value", ConditionKey::Value},
  };
  return lookup(KEYS, key);
}

constexpr std::string_view COMPARISONS_EXPECTED =
    "one of \"==\", \"!=\", \"<\", \"<=\", \">\", \">=\"";

constexpr std::string_view MATRIX_EXPECTED = "a list of rows of [real, imaginary] pairs";

// Turns JSON text into a gate sequence, checking every value on the way. It keeps the
// chain of gate lists it is in, so that a message can say where the fault is.
class SequenceReader {
 public:
  SequenceReader(std::string_view text, const SpareText& spare, RecordStarts* record_starts)
      : json_(text), spare_(spare), record_starts_(record_starts) {
    // Room for the records of a text written as import writes it, so that a large
    // sequence is neither copied as it grows nor held twice while it does.
    sequence_.reserve(text.size() / TYPICAL_RECORD_BYTES);
  }

  GateSequence read();

 private:
  struct Frame {
    std::string_view list_key;
    std::size_t index;
  };

  void sequence_member(SequenceKey key, std::string_view name);
  template <class NewRecord>
  void gate_list(std::string_view key, NewRecord&& new_record);
  void gate(QuantumGate& gate);
  void gate_member(QuantumGate& gate, GateKey key, std::string_view name);
  GateBlock nested_gates(std::string_view key);
  Condition condition(std::string_view key);
  Comparison comparison(std::string_view key);
  std::uint64_t unsigned_integer(std::string_view key);
  template <class Rule>
  void model_rule(std::string_view key, Rule&& rule) const;
  [[gnu::noinline]] void note_record_start();
  void spare_text_behind();

  [[nodiscard]] std::string where(std::string_view key) const;
  [[noreturn]] void wrong_kind(std::string_view key, std::string_view expected) const;
  [[noreturn]] void unknown_key(std::string_view key, std::string_view member_of = {}) const;
  [[noreturn]] void out_of_range(std::string_view key, std::string_view number) const;

  std::int64_t integer(std::string_view key, std::string_view expected);
  void index_list(std::string_view key, IndexList& out);
  void control_states(std::string_view key, IndexList& out);
  Parameter parameter(std::string_view key);
  ParamScalar parameter_entry(std::string_view key);
  Matrix matrix(std::string_view key);
  std::complex<double> matrix_entry(std::string_view key);
  template <class First, class Second>
  void each_pair(std::string_view key, std::string_view expected, First&& first, Second&& second);
  RegisterList registers(std::string_view key);
  std::vector<MeasurePair> measure_pairs(std::string_view key);
  std::vector<InputDecl> inputs(std::string_view key);

  JsonCursor json_;
  const SpareText& spare_;
  RecordStarts* record_starts_;
  std::size_t spared_ = 0;
  std::vector<Frame> frames_;
  GateSequence sequence_{0};
};

GateSequence SequenceReader::read() {
  if (json_.kind() != ValueKind::Object) {
    throw TypeError("a gate sequence must be a JSON object");
  }
  unsigned seen = 0;
  json_.each_member([&](std::string_view name) {
    const std::optional<SequenceKey> key = sequence_key(name);
    if (!key) unknown_key(name);
    const unsigned bit = 1U << static_cast<unsigned>(*key);
    if ((seen & bit) != 0) {
      throw ValueError("the gate sequence has the key " + quoted(name) + " twice");
    }
    seen |= bit;
    if (!json_.take_null()) sequence_member(*key, name);
  });
  json_.expect_end();
  return std::move(sequence_);
}

void SequenceReader::sequence_member(SequenceKey key, std::string_view name) {
  switch (key) {
    case SequenceKey::NumQubits:
      sequence_.num_qubits = integer(name, "an integer");
      if (sequence_.num_qubits < 0) throw ValueError("num_qubits must not be negative");
      break;
    case SequenceKey::Gates:
      gate_list("gates", [this]() -> QuantumGate& {
        spare_text_behind();
        return sequence_.emplace_gate();
      });
      break;
    case SequenceKey::QuantumRegisters:
      sequence_.qasm_quantum_registers = registers(name);
      break;
    case SequenceKey::ClassicalRegisters:
      sequence_.qasm_classical_registers = registers(name);
      break;
    case SequenceKey::MeasureMap:
      sequence_.qasm_measure_map = measure_pairs(name);
      break;
    case SequenceKey::Inputs:
      sequence_.qasm_inputs = inputs(name);
      break;
  }
}

// `new_record()` gives the record to read each entry into.
template <class NewRecord>
void SequenceReader::gate_list(std::string_view key, NewRecord&& new_record) {
  if (json_.kind() != ValueKind::Array) wrong_kind(key, "a list of gates");
  if (frames_.size() >= static_cast<std::size_t>(MAX_NESTING_DEPTH) + 1) {
    throw RecursionError(std::string(RECURSION_MESSAGE));
  }
  frames_.push_back({key, 0});
  json_.each_element([&] {
    gate(new_record());
    ++frames_.back().index;
  });
  frames_.pop_back();
}

void SequenceReader::gate(QuantumGate& gate) {
  if (json_.kind() != ValueKind::Object) wrong_kind({}, "an object");
  if (record_starts_ != nullptr) note_record_start();
  bool has_id = false;
  bool has_target = false;
  json_.each_member([&](std::string_view name) {
    const std::optional<GateKey> key = gate_key(name);
    if (!key) unknown_key(name);
    if (json_.take_null()) return;
    has_id = has_id || *key == GateKey::Id;
    has_target = has_target || *key == GateKey::Target;
    gate_member(gate, *key, name);
  });
  if (!has_id) throw ValueError(where({}) + " has no key 'id'");
  if (!has_target) throw ValueError(where({}) + " has no key 'target'");
  model_rule({}, [&] { check_conditioned(gate); });
}

void SequenceReader::gate_member(QuantumGate& gate, GateKey key, std::string_view name) {
  switch (key) {
    case GateKey::Id:
      if (json_.kind() != ValueKind::String) wrong_kind(name, "a string");
      json_.string(gate.id);
      break;
    case GateKey::Target:
      index_list(name, gate.target);
      break;
    case GateKey::Control:
      index_list(name, gate.control);
      break;
    case GateKey::ControlState:
      control_states(name, gate.control_state);
      break;
    case GateKey::Parameter:
      gate.parameter = parameter(name);
      break;
    case GateKey::ClassicalTarget: {
      IndexList bits;
      index_list(name, bits);
      gate.set_classical_target(std::move(bits));
      break;
    }
    case GateKey::BlockGateSequence:
      gate.set_block_gate_sequence(nested_gates("block_gate_sequence"));
      break;
    case GateKey::ElseGateSequence:
      // Before the block, no record of this one's has been read since its own.
      if (record_starts_ != nullptr && !gate.block_gate_sequence()) {
        record_starts_->else_first.push_back(record_starts_->offsets.size() - 1);
      }
      gate.set_else_gate_sequence(nested_gates("else_gate_sequence"));
      break;
    case GateKey::Condition:
      gate.set_condition(condition(name));
      break;
    case GateKey::Name: {
      if (json_.kind() != ValueKind::String) wrong_kind(name, "a string");
      std::string text;
      json_.string(text);
      gate.set_name(std::move(text));
      break;
    }
    case GateKey::Matrix:
      gate.set_matrix(matrix(name));
      break;
    case GateKey::StoredMatrix:
      gate.set_stored_matrix(matrix(name));
      break;
  }
}

GateBlock SequenceReader::nested_gates(std::string_view key) {
  std::vector<QuantumGate> children;
  gate_list(key, [&]() -> QuantumGate& { return children.emplace_back(); });
  return make_block(std::move(children));
}

// {"bits": [int, ...], "compare": "==", "value": int}, every key required.
Condition SequenceReader::condition(std::string_view key) {
  if (json_.kind() != ValueKind::Object) wrong_kind(key, "an object");
  const std::string prefix = std::string(key) + '.';
  std::optional<IndexList> bits;
  std::optional<Comparison> compare;
  std::optional<std::uint64_t> value;
  json_.each_member([&](std::string_view name) {
    const std::optional<ConditionKey> member = condition_key(name);
    if (!member) unknown_key(name, key);
    if (json_.take_null()) return;
    const std::string path = prefix + std::string(name);
    switch (*member) {
      case ConditionKey::Bits:
        index_list(path, bits.emplace());
        break;
      case ConditionKey::Compare:
        compare = comparison(path);
        break;
      case ConditionKey::Value:
        value = unsigned_integer(path);
        break;
    }
  });
  const auto require = [&](bool present, std::string_view name) {
    if (!present) throw ValueError(where(key) + " has no key " + quoted(name));
  };
  require(bits.has_value(), "bits");
  require(compare.has_value(), "compare");
  require(value.has_value(), "value");
  std::optional<Condition> tested;
  model_rule(key, [&] { tested.emplace(std::move(*bits), *compare, *value); });
  return std::move(*tested);
}

Comparison SequenceReader::comparison(std::string_view key) {
  if (json_.kind() != ValueKind::String) wrong_kind(key, COMPARISONS_EXPECTED);
  std::string text;
  json_.string(text);
  const std::optional<Comparison> compare = comparison_from_text(text);
  if (!compare) throw ValueError(where(key) + " must be " + std::string(COMPARISONS_EXPECTED));
  return *compare;
}

std::uint64_t SequenceReader::unsigned_integer(std::string_view key) {
  constexpr std::string_view EXPECTED = "an integer";
  if (json_.kind() != ValueKind::Number) wrong_kind(key, EXPECTED);
  const NumberText number = json_.number();
  if (!number.integral) wrong_kind(key, EXPECTED);
  std::uint64_t value = 0;
  const std::string_view text = number.text;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size()) {
    out_of_range(key, text);
  }
  return value;
}

// Runs `rule`, a rule of the gate model, with its error placed at `key` (the gate itself
// when empty), keeping the error's kind.
template <class Rule>
void SequenceReader::model_rule(std::string_view key, Rule&& rule) const {
  try {
    rule();
  } catch (const NotImplementedError& e) {
    throw NotImplementedError(where(key) + ": " + e.what());
  } catch (const ValueError& e) {
    throw ValueError(where(key) + ": " + e.what());
  }
}

// Kept out of the reading of a record, which this would make too large to inline what it
// calls.
void SequenceReader::note_record_start() {
  record_starts_->offsets.push_back(json_.offset());
}

// Between two top-level records no view of the text is held, so what lies behind the
// record about to be read may go.
void SequenceReader::spare_text_behind() {
  if (!spare_ || json_.offset() - spared_ < SPARE_STEP) return;
  spare_(spared_, json_.offset());
  spared_ = json_.offset();
}

// "gates[2].block_gate_sequence[0].target"; the gate itself when `key` is empty.
std::string SequenceReader::where(std::string_view key) const {
  std::string out;
  for (const Frame& frame : frames_) {
    if (!out.empty()) out += '.';
    out += frame.list_key;
    out += '[';
    out += std::to_string(frame.index);
    out += ']';
  }
  if (!key.empty()) {
    if (!out.empty()) out += '.';
    out += key;
  }
  return out;
}

void SequenceReader::wrong_kind(std::string_view key, std::string_view expected) const {
  throw TypeError(where(key) + " must be " + std::string(expected));
}

// `key` in the object at `member_of`: the gate's own keys when empty, the sequence's outside
// the gates.
void SequenceReader::unknown_key(std::string_view key, std::string_view member_of) const {
  const std::string owner = frames_.empty() ? std::string("the gate sequence") : where(member_of);
  throw ValueError(owner + " has an unknown key " + quoted_excerpt(key));
}

void SequenceReader::out_of_range(std::string_view key, std::string_view number) const {
  throw ValueError(where(key) + " holds an integer out of range: " + excerpt(number));
}

std::int64_t SequenceReader::integer(std::string_view key, std::string_view expected) {
  if (json_.kind() != ValueKind::Number) wrong_kind(key, expected);
  const NumberText number = json_.number();
  if (!number.integral) wrong_kind(key, expected);
  const std::optional<std::int64_t> value = to_integer(number);
  if (!value) out_of_range(key, number.text);
  return *value;
}

void SequenceReader::index_list(std::string_view key, IndexList& out) {
  constexpr std::string_view EXPECTED = "a list of integers";
  if (json_.kind() != ValueKind::Array) wrong_kind(key, EXPECTED);
  out.clear();
  json_.each_element([&] { out.push_back(integer(key, EXPECTED)); });
}

// A state equal to 1 (1, 1.0, true) is a control on one and every other value a control
// on zero, as the exporter reads states; integers keep their value.
void SequenceReader::control_states(std::string_view key, IndexList& out) {
  constexpr std::string_view EXPECTED = "a list of integers, booleans or numbers";
  if (json_.kind() != ValueKind::Array) wrong_kind(key, EXPECTED);
  out.clear();
  json_.each_element([&] {
    const ValueKind kind = json_.kind();
    if (kind == ValueKind::Boolean) {
      out.push_back(json_.boolean() ? 1 : 0);
      return;
    }
    if (kind != ValueKind::Number) wrong_kind(key, EXPECTED);
    const NumberText number = json_.number();
    const std::optional<std::int64_t> value = number.integral ? to_integer(number) : std::nullopt;
    out.push_back(value ? *value : (to_double(number) == 1.0 ? 1 : 0));
  });
}

Parameter SequenceReader::parameter(std::string_view key) {
  const ValueKind kind = json_.kind();
  if (kind == ValueKind::Array) {
    std::vector<ParamScalar> items;
    json_.each_element([&] { items.push_back(parameter_entry(key)); });
    // Angles, the most common parameter, read as the tuple the importer makes of them, which
    // keeps up to three in place.
    const bool angles =
        !items.empty() && std::all_of(items.begin(), items.end(), [](const auto& item) {
          return std::holds_alternative<double>(item);
        });
    return Parameter::list(std::move(items), /*as_tuple=*/angles);
  }
  if (kind == ValueKind::Object) {
    std::optional<Matrix> array;
    json_.each_member([&](std::string_view name) {
      if (name != "array" || array) {
        wrong_kind(key, "a number, boolean, string, list or {\"array\": matrix}");
      }
      array = matrix(key);
    });
    if (!array) wrong_kind(key, "a number, boolean, string, list or {\"array\": matrix}");
    return Parameter(std::move(*array));
  }
  return std::visit([](auto&& scalar) { return Parameter(std::forward<decltype(scalar)>(scalar)); },
                    parameter_entry(key));
}

ParamScalar SequenceReader::parameter_entry(std::string_view key) {
  switch (json_.kind()) {
    case ValueKind::Boolean:
      return json_.boolean();
    case ValueKind::String: {
      std::string text;
      json_.string(text);
      return text;
    }
    case ValueKind::Number: {
      const NumberText number = json_.number();
      const std::optional<std::int64_t> value = number.integral ? to_integer(number) : std::nullopt;
      if (value) return *value;
      return to_double(number);
    }
    default:
      wrong_kind(key, "a number, boolean, string or a list of these");
  }
}

Matrix SequenceReader::matrix(std::string_view key) {
  if (json_.kind() != ValueKind::Array) wrong_kind(key, MATRIX_EXPECTED);
  std::vector<std::complex<double>> entries;
  std::size_t rows = 0;
  std::size_t cols = 0;
  json_.each_element([&] {
    if (json_.kind() != ValueKind::Array) wrong_kind(key, MATRIX_EXPECTED);
    const std::size_t row_start = entries.size();
    json_.each_element([&] { entries.push_back(matrix_entry(key)); });
    const std::size_t length = entries.size() - row_start;
    if (rows == 0) cols = length;
    if (length != cols) throw ValueError(where(key) + " has rows of different lengths");
    ++rows;
  });
  return Matrix(rows, cols, std::move(entries));
}

std::complex<double> SequenceReader::matrix_entry(std::string_view key) {
  double parts[2] = {0, 0};
  each_pair(
      key, MATRIX_EXPECTED,
      [&] {
        if (json_.kind() != ValueKind::Number) wrong_kind(key, MATRIX_EXPECTED);
        parts[0] = to_double(json_.number());
      },
      [&] {
        if (json_.kind() != ValueKind::Number) wrong_kind(key, MATRIX_EXPECTED);
        parts[1] = to_double(json_.number());
      });
  return {parts[0], parts[1]};
}

// Reads a list of exactly two entries, first() reading the first and second() the second.
template <class First, class Second>
void SequenceReader::each_pair(std::string_view key, std::string_view expected, First&& first,
                               Second&& second) {
  if (json_.kind() != ValueKind::Array) wrong_kind(key, expected);
  int count = 0;
  json_.each_element([&] {
    if (count == 0) {
      first();
    } else if (count == 1) {
      second();
    } else {
      wrong_kind(key, expected);
    }
    ++count;
  });
  if (count != 2) wrong_kind(key, expected);
}

RegisterList SequenceReader::registers(std::string_view key) {
  constexpr std::string_view EXPECTED = "a list of [name, size] pairs";
  if (json_.kind() != ValueKind::Array) wrong_kind(key, EXPECTED);
  RegisterList result;
  json_.each_element([&] {
    RegisterDecl& reg = result.emplace_back();
    each_pair(
        key, EXPECTED,
        [&] {
          if (json_.kind() != ValueKind::String) wrong_kind(key, EXPECTED);
          json_.string(reg.name);
        },
        [&] { reg.size = integer(key, EXPECTED); });
  });
  return result;
}

std::vector<MeasurePair> SequenceReader::measure_pairs(std::string_view key) {
  constexpr std::string_view EXPECTED = "a list of [qubit, bit] pairs";
  if (json_.kind() != ValueKind::Array) wrong_kind(key, EXPECTED);
  std::vector<MeasurePair> result;
  json_.each_element([&] {
    MeasurePair& pair = result.emplace_back();
    each_pair(
        key, EXPECTED, [&] { pair.first = integer(key, EXPECTED); },
        [&] { pair.second = integer(key, EXPECTED); });
  });
  return result;
}

std::vector<InputDecl> SequenceReader::inputs(std::string_view key) {
  constexpr std::string_view EXPECTED = "a list of [name, type] pairs";
  if (json_.kind() != ValueKind::Array) wrong_kind(key, EXPECTED);
  std::vector<InputDecl> result;
  const auto text = [&](std::string& into) {
    if (json_.kind() != ValueKind::String) wrong_kind(key, EXPECTED);
    json_.string(into);
  };
  json_.each_element([&] {
    InputDecl& input = result.emplace_back();
    each_pair(
        key, EXPECTED, [&] { text(input.name); }, [&] { text(input.type); });
  });
  return result;
}

}  // namespace

GateSequence read_gate_sequence_json(std::string_view text, const SpareText& spare,
                                     RecordStarts* record_starts) {
  validate_utf8(text);
  return SequenceReader(text, spare, record_starts).read();
}

}  // namespace corvane::qasm3::cli
