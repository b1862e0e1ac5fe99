#include "json_form.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "qasm3_vocabulary.hpp"
#include "text.hpp"

namespace corvane::qasm3::cli {
namespace {

// Objects keep their keys in document order in a plain vector: messages name faults in
// reading order, and a gate's object costs far less than a tree of map nodes.
using Json = nlohmann::ordered_json;

// Two lower-case hexadecimal digits of `byte`.
void append_hex_byte(std::string& out, unsigned char byte) {
  constexpr std::string_view kHexDigits = "0123456789abcdef";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

// ====================================================================== reading

// JSON nested deeper than this cannot be a gate sequence whose blocks are within the
// nesting limit (two levels per block, a few more for a matrix inside it). Stopping
// the parse here keeps hostile input from building a huge tree first.
constexpr int kMaxJsonDepth = 2 * detail::MAX_NESTING_DEPTH + 16;

// "Invalid JSON at line 1, column 5: ..." from the parser's own message. The parser quotes
// the bytes it last read, which may be broken UTF-8; those bytes are shown as \xNN.
std::string parse_failure_message(std::string_view what) {
  // The parser prefixes its messages with "[json.exception.<kind>.<id>] ".
  if (const std::size_t end = what.find("] "); end != std::string_view::npos) {
    what.remove_prefix(end + 2);
  }
  constexpr std::string_view kParseError = "parse error";
  std::string message = "Invalid JSON";
  if (what.substr(0, kParseError.size()) == kParseError) {
    what.remove_prefix(kParseError.size());
  } else {
    message += ": ";
  }
  for (const char c : what) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      message += c;
    } else {
      message += "\\x";
      append_hex_byte(message, byte);
    }
  }
  return message;
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
  StoredMatrix
};

std::optional<GateKey> gate_key(std::string_view key) {
  static constexpr std::pair<std::string_view, GateKey> kKeys[] = {
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
  };
  for (const auto& [name, value] : kKeys) {
    if (name == key) return value;
  }
  return std::nullopt;
}

// Turns JSON text into a gate sequence, checking every value on the way. It keeps the
// chain of gate lists it is in, so that a message can say where the fault is.
class SequenceReader {
 public:
  GateSequence read(std::string_view text);

  // The tree builder hands over each record of the top-level "gates" list as soon as it
  // is complete (see GateStreamingBuilder).
  void take_gate(Json& gate);
  [[noreturn]] void reject_gate_entry() const;

 private:
  struct Frame {
    std::string_view list_key;
    std::size_t index;
  };

  std::vector<QuantumGate> read_gates(Json& list, std::string_view key);
  QuantumGate read_gate(Json& object);

  std::string where(std::string_view key) const;
  [[noreturn]] void wrong_kind(std::string_view key, std::string_view expected) const;
  [[noreturn]] void unknown_key(std::string_view key) const;

  std::int64_t integer(const Json& value, std::string_view key, std::string_view expected) const;
  const std::string& text(const Json& value, std::string_view key) const;
  IndexList index_list(const Json& value, std::string_view key) const;
  IndexList control_states(const Json& value, std::string_view key) const;
  Parameter parameter(const Json& value, std::string_view key) const;
  ParamScalar parameter_entry(const Json& value, std::string_view key) const;
  Matrix matrix(const Json& value, std::string_view key) const;
  std::complex<double> matrix_entry(const Json& value, std::string_view key) const;
  std::vector<std::pair<std::int64_t, std::int64_t>> pairs(const Json& value, std::string_view key,
                                                           std::string_view expected) const;
  RegisterList registers(const Json& value, std::string_view key) const;

  GateSequence finish(Json& doc);

  std::vector<Frame> frames_;
  int depth_ = 0;
  // Top-level records go straight into the result as they are read.
  GateSequence sequence_{0};
};

// The parser's own tree builder with two additions. Each record of the top-level "gates"
// list goes to the reader as soon as it is complete and is then dropped, so that a large
// sequence never exists as a whole document next to the records made from it. Nesting is
// bounded, so that hostile input cannot build a tree millions of levels deep before any
// check sees it. (The parser's callback interface could bound the nesting too, but it
// rescans a list at the end of every element.)
class GateStreamingBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
  using Base = nlohmann::detail::json_sax_dom_parser<Json>;

 public:
  GateStreamingBuilder(Json& root, SequenceReader& reader)
      : Base(root), root_(root), reader_(reader) {}

  bool null() { return gate_entry_check() && Base::null(); }
  bool boolean(bool value) { return gate_entry_check() && Base::boolean(value); }
  bool number_integer(number_integer_t value) {
    return gate_entry_check() && Base::number_integer(value);
  }
  bool number_unsigned(number_unsigned_t value) {
    return gate_entry_check() && Base::number_unsigned(value);
  }
  bool number_float(number_float_t value, const string_t& text) {
    return gate_entry_check() && Base::number_float(value, text);
  }
  bool string(string_t& value) { return gate_entry_check() && Base::string(value); }
  bool binary(binary_t& value) { return gate_entry_check() && Base::binary(value); }

  bool key(string_t& name) {
    if (depth_ == 1) {
      for (const std::string& seen : top_keys_) {
        if (seen == name) {
          detail::raise_value_error("the gate sequence has the key " + detail::quoted(name) +
                                    " twice");
        }
      }
      top_keys_.push_back(name);
    }
    return Base::key(name);
  }

  bool start_object(std::size_t size) {
    enter();
    return Base::start_object(size);
  }
  bool end_object() {
    const bool gate_complete = in_gates_ && depth_ == kGateDepth;
    --depth_;
    Base::end_object();
    if (gate_complete) hand_over_gate();
    return true;
  }
  bool start_array(std::size_t size) {
    gate_entry_check();
    enter();
    if (depth_ == kGateDepth - 1 && top_keys_.size() > 0 && top_keys_.back() == "gates") {
      in_gates_ = true;
    }
    return Base::start_array(size);
  }
  bool end_array() {
    if (depth_ == kGateDepth - 1) in_gates_ = false;
    --depth_;
    return Base::end_array();
  }

 private:
  // Open containers around a top-level record: the sequence, its list, the record.
  static constexpr int kGateDepth = 3;

  void enter() {
    if (++depth_ > kMaxJsonDepth) {
      detail::raise_recursion_error(std::string(detail::RECURSION_MESSAGE));
    }
  }

  // A value that is not an object in the place of a top-level record.
  bool gate_entry_check() const {
    if (in_gates_ && depth_ == kGateDepth - 1) reader_.reject_gate_entry();
    return true;
  }

  void hand_over_gate() {
    auto& gates = root_.find("gates")->get_ref<Json::array_t&>();
    Json gate = std::move(gates.back());
    gates.pop_back();
    reader_.take_gate(gate);
  }

  Json& root_;
  SequenceReader& reader_;
  int depth_ = 0;
  bool in_gates_ = false;
  std::vector<std::string> top_keys_;
};

GateSequence SequenceReader::read(std::string_view text) {
  Json doc;
  GateStreamingBuilder builder(doc, *this);
  try {
    Json::sax_parse(text.begin(), text.end(), &builder);
  } catch (const Json::exception& e) {
    detail::raise_value_error(parse_failure_message(e.what()));
  }
  return finish(doc);
}

void SequenceReader::take_gate(Json& gate) {
  frames_.push_back({"gates", sequence_.data().size()});
  sequence_.add_gate(read_gate(gate));
  frames_.pop_back();
}

void SequenceReader::reject_gate_entry() const {
  detail::raise_type_error("gates[" +
                           detail::int_text(static_cast<std::int64_t>(sequence_.data().size())) +
                           "] must be an object");
}

GateSequence SequenceReader::finish(Json& doc) {
  if (!doc.is_object()) detail::raise_type_error("a gate sequence must be a JSON object");
  for (auto&& [key, value] : doc.items()) {
    if (key == "num_qubits") {
      if (value.is_null()) continue;
      sequence_.num_qubits = integer(value, key, "an integer");
      if (sequence_.num_qubits < 0) detail::raise_value_error("num_qubits must not be negative");
    } else if (key == "gates") {
      // Its records were taken while the text was parsed.
      if (!value.is_null() && !value.is_array()) wrong_kind(key, "a list of gates");
    } else if (key == "qasm_quantum_registers") {
      if (!value.is_null()) sequence_.qasm_quantum_registers = registers(value, key);
    } else if (key == "qasm_classical_registers") {
      if (!value.is_null()) sequence_.qasm_classical_registers = registers(value, key);
    } else if (key == "qasm_measure_map") {
      if (!value.is_null()) {
        sequence_.qasm_measure_map = pairs(value, key, "a list of [qubit, bit] pairs");
      }
    } else {
      unknown_key(key);
    }
  }
  return std::move(sequence_);
}

std::vector<QuantumGate> SequenceReader::read_gates(Json& list, std::string_view key) {
  if (!list.is_array()) wrong_kind(key, "a list of gates");
  std::vector<QuantumGate> gates;
  gates.reserve(list.size());
  frames_.push_back({key, 0});
  for (Json& entry : list) {
    gates.push_back(read_gate(entry));
    ++frames_.back().index;
  }
  frames_.pop_back();
  return gates;
}

QuantumGate SequenceReader::read_gate(Json& object) {
  if (!object.is_object()) wrong_kind({}, "an object");
  QuantumGate gate{std::string(), IndexList()};
  bool has_id = false;
  bool has_target = false;
  for (auto&& [key, value] : object.items()) {
    const std::optional<GateKey> field = gate_key(key);
    if (!field) unknown_key(key);
    if (value.is_null()) continue;
    switch (*field) {
      case GateKey::Id:
        gate.id = text(value, key);
        has_id = true;
        break;
      case GateKey::Target:
        gate.target = index_list(value, key);
        has_target = true;
        break;
      case GateKey::Control:
        gate.control = index_list(value, key);
        break;
      case GateKey::ControlState:
        gate.control_state = control_states(value, key);
        break;
      case GateKey::Parameter:
        gate.parameter = parameter(value, key);
        break;
      case GateKey::ClassicalTarget:
        gate.set_classical_target(index_list(value, key));
        break;
      case GateKey::BlockGateSequence: {
        const detail::DepthGuard guard(depth_);
        gate.set_block_gate_sequence(make_block(read_gates(value, key)));
        break;
      }
      case GateKey::Name:
        gate.set_name(text(value, key));
        break;
      case GateKey::Matrix:
        gate.set_matrix(matrix(value, key));
        break;
      case GateKey::StoredMatrix:
        gate.set_stored_matrix(matrix(value, key));
        break;
    }
  }
  if (!has_id) detail::raise_value_error(where({}) + " has no key 'id'");
  if (!has_target) detail::raise_value_error(where({}) + " has no key 'target'");
  return gate;
}

// "gates[2].block_gate_sequence[0].target"; the gate itself when `key` is empty.
std::string SequenceReader::where(std::string_view key) const {
  std::string out;
  for (const Frame& frame : frames_) {
    if (!out.empty()) out += '.';
    out += frame.list_key;
    out += '[';
    detail::append_int(out, static_cast<std::int64_t>(frame.index));
    out += ']';
  }
  if (!key.empty()) {
    if (!out.empty()) out += '.';
    out += key;
  }
  return out;
}

void SequenceReader::wrong_kind(std::string_view key, std::string_view expected) const {
  detail::raise_type_error(where(key) + " must be " + std::string(expected));
}

void SequenceReader::unknown_key(std::string_view key) const {
  const std::string owner = frames_.empty() ? std::string("the gate sequence") : where({});
  detail::raise_value_error(owner + " has an unknown key " + detail::quoted(key));
}

std::int64_t SequenceReader::integer(const Json& value, std::string_view key,
                                     std::string_view expected) const {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned()) {
    const auto unsigned_value = value.get<std::uint64_t>();
    if (unsigned_value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(unsigned_value);
    }
    detail::raise_value_error(where(key) +
                              " holds an integer out of range: " + std::to_string(unsigned_value));
  }
  wrong_kind(key, expected);
}

const std::string& SequenceReader::text(const Json& value, std::string_view key) const {
  if (!value.is_string()) wrong_kind(key, "a string");
  return value.get_ref<const std::string&>();
}

IndexList SequenceReader::index_list(const Json& value, std::string_view key) const {
  constexpr std::string_view kExpected = "a list of integers";
  if (!value.is_array()) wrong_kind(key, kExpected);
  IndexList indices;
  indices.reserve(value.size());
  for (const Json& entry : value)
    indices.push_back(integer(entry, key, kExpected));
  return indices;
}

// States other than integers follow the exporter's reading: true and 1.0 equal 1, and
// every other value is a control on zero.
IndexList SequenceReader::control_states(const Json& value, std::string_view key) const {
  constexpr std::string_view kExpected = "a list of integers, booleans or numbers";
  if (!value.is_array()) wrong_kind(key, kExpected);
  IndexList states;
  states.reserve(value.size());
  for (const Json& entry : value) {
    if (entry.is_boolean()) {
      states.push_back(entry.get<bool>() ? 1 : 0);
    } else if (entry.is_number_float()) {
      states.push_back(entry.get<double>() == 1.0 ? 1 : 0);
    } else {
      states.push_back(integer(entry, key, kExpected));
    }
  }
  return states;
}

Parameter SequenceReader::parameter(const Json& value, std::string_view key) const {
  if (value.is_array()) {
    std::vector<ParamScalar> items;
    items.reserve(value.size());
    for (const Json& entry : value)
      items.push_back(parameter_entry(entry, key));
    return Parameter::list(std::move(items));
  }
  if (value.is_object()) {
    const auto array = value.find("array");
    if (value.size() != 1 || array == value.end()) {
      wrong_kind(key, "a number, boolean, string, list or {\"array\": matrix}");
    }
    return Parameter(matrix(*array, key));
  }
  return std::visit([](auto&& scalar) { return Parameter(std::forward<decltype(scalar)>(scalar)); },
                    parameter_entry(value, key));
}

ParamScalar SequenceReader::parameter_entry(const Json& value, std::string_view key) const {
  constexpr std::string_view kExpected = "a number, boolean, string or a list of these";
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number_float()) return value.get<double>();
  if (value.is_string()) return value.get<std::string>();
  return integer(value, key, kExpected);
}

Matrix SequenceReader::matrix(const Json& value, std::string_view key) const {
  constexpr std::string_view kExpected = "a list of rows of [real, imaginary] pairs";
  if (!value.is_array()) wrong_kind(key, kExpected);
  const std::size_t rows = value.size();
  const std::size_t cols = rows == 0 || !value[0].is_array() ? 0 : value[0].size();
  // Check the shape before reserving, so a ragged matrix cannot ask for rows * cols.
  for (const Json& row : value) {
    if (!row.is_array()) wrong_kind(key, kExpected);
    if (row.size() != cols)
      detail::raise_value_error(where(key) + " has rows of different lengths");
  }
  std::vector<std::complex<double>> entries;
  entries.reserve(rows * cols);
  for (const Json& row : value) {
    for (const Json& entry : row)
      entries.push_back(matrix_entry(entry, key));
  }
  return Matrix(rows, cols, std::move(entries));
}

std::complex<double> SequenceReader::matrix_entry(const Json& value, std::string_view key) const {
  constexpr std::string_view kExpected = "a list of rows of [real, imaginary] pairs";
  if (!value.is_array() || value.size() != 2 || !value[0].is_number() || !value[1].is_number()) {
    wrong_kind(key, kExpected);
  }
  return {value[0].get<double>(), value[1].get<double>()};
}

std::vector<std::pair<std::int64_t, std::int64_t>> SequenceReader::pairs(
    const Json& value, std::string_view key, std::string_view expected) const {
  if (!value.is_array()) wrong_kind(key, expected);
  std::vector<std::pair<std::int64_t, std::int64_t>> result;
  result.reserve(value.size());
  for (const Json& entry : value) {
    if (!entry.is_array() || entry.size() != 2) wrong_kind(key, expected);
    result.emplace_back(integer(entry[0], key, expected), integer(entry[1], key, expected));
  }
  return result;
}

RegisterList SequenceReader::registers(const Json& value, std::string_view key) const {
  constexpr std::string_view kExpected = "a list of [name, size] pairs";
  if (!value.is_array()) wrong_kind(key, kExpected);
  RegisterList result;
  result.reserve(value.size());
  for (const Json& entry : value) {
    if (!entry.is_array() || entry.size() != 2 || !entry[0].is_string()) wrong_kind(key, kExpected);
    result.push_back({entry[0].get<std::string>(), integer(entry[1], key, kExpected)});
  }
  return result;
}

// ====================================================================== writing

enum class Shape { Measurement, Block, Generated, Ordinary };

// No record takes fewer bytes of text than this; the shortest is a measurement:
// {"id": "measure", "target": [], "classical_target": [], "name": null}
constexpr std::size_t kShortestRecordBytes = 60;

std::size_t saturating_add(std::size_t a, std::size_t b) {
  return a > std::numeric_limits<std::size_t>::max() - b ? std::numeric_limits<std::size_t>::max()
                                                         : a + b;
}

// The constructor shape the importer would have used for a record like `gate`.
Shape shape_of(const QuantumGate& gate) {
  if (gate.id == "measure" && gate.classical_target()) return Shape::Measurement;
  if (gate.block_gate_sequence()) return Shape::Block;
  if (gate.matrix() && gate.parameter.is_absent() &&
      detail::contains(detail::NON_STANDARD, gate.id)) {
    return Shape::Generated;
  }
  return Shape::Ordinary;
}

// Appends JSON text into one buffer. Records stand one per line, nested block records
// indented below the record that holds them.
class SequenceWriter {
 public:
  std::string write(const GateSequence& gs);

 private:
  void gate_list(const std::vector<QuantumGate>& gates, int indent);
  void gate(const QuantumGate& gate, int indent);
  void key(std::string_view name);
  void json_string(std::string_view value);
  void json_number(double value);
  void index_list(const IndexList& indices);
  void optional_index_list(const std::optional<IndexList>& indices);
  void optional_string(const std::optional<std::string>& value);
  void parameter(const Parameter& param);
  void matrix(const Matrix& m);
  void optional_matrix(const std::optional<Matrix>& m);
  void registers(const RegisterList& regs);
  void newline(int indent);

  // Records in each distinct block, nested blocks expanded, keyed by the block's address.
  using BlockCounts = std::unordered_map<const std::vector<QuantumGate>*, std::size_t>;
  // Records the text would hold, every block expanded at every use; saturates.
  std::size_t expanded_records(const std::vector<QuantumGate>& gates, BlockCounts& counts);
  [[noreturn]] static void raise_too_large();

  std::string out_;
  int depth_ = 0;
};

std::string SequenceWriter::write(const GateSequence& gs) {
  // Blocks shared many times over can stand for far more records than exist in memory;
  // such a sequence is refused before any text is written.
  BlockCounts counts;
  if (expanded_records(gs.data(), counts) > kMaxWrittenBytes / kShortestRecordBytes) {
    raise_too_large();
  }
  out_ = "{\n  ";
  key("num_qubits");
  detail::append_int(out_, gs.num_qubits);
  out_ += ",\n  ";
  key("gates");
  gate_list(gs.data(), 2);
  out_ += ",\n  ";
  key("qasm_quantum_registers");
  if (gs.qasm_quantum_registers) {
    registers(*gs.qasm_quantum_registers);
  } else {
    out_ += "null";
  }
  if (gs.qasm_classical_registers) {
    out_ += ",\n  ";
    key("qasm_classical_registers");
    registers(*gs.qasm_classical_registers);
  }
  if (gs.qasm_measure_map) {
    out_ += ",\n  ";
    key("qasm_measure_map");
    out_ += '[';
    const char* separator = "";
    for (const auto& [qubit, bit] : *gs.qasm_measure_map) {
      out_ += separator;
      out_ += '[';
      detail::append_int(out_, qubit);
      out_ += ", ";
      detail::append_int(out_, bit);
      out_ += ']';
      separator = ", ";
    }
    out_ += ']';
  }
  out_ += "\n}\n";
  return std::move(out_);
}

// `indent` is the indentation of the line that opens the list.
void SequenceWriter::gate_list(const std::vector<QuantumGate>& gates, int indent) {
  if (gates.empty()) {
    out_ += "[]";
    return;
  }
  out_ += '[';
  const char* separator = "";
  for (const QuantumGate& g : gates) {
    out_ += separator;
    newline(indent + 2);
    gate(g, indent + 2);
    separator = ",";
  }
  newline(indent);
  out_ += ']';
}

void SequenceWriter::gate(const QuantumGate& g, int indent) {
  if (out_.size() > kMaxWrittenBytes) raise_too_large();
  const Shape shape = shape_of(g);
  out_ += '{';
  key("id");
  json_string(g.id);
  out_ += ", ";
  key("target");
  index_list(g.target);
  if (shape == Shape::Measurement) {
    out_ += ", ";
    key("classical_target");
    optional_index_list(g.classical_target());
    out_ += ", ";
    key("name");
    optional_string(g.name());
    out_ += '}';
    return;
  }
  out_ += ", ";
  key("control");
  index_list(g.control);
  out_ += ", ";
  key("control_state");
  index_list(g.control_state);
  if (shape == Shape::Block) {
    out_ += ", ";
    key("block_gate_sequence");
    {
      const detail::DepthGuard guard(depth_);
      gate_list(*g.block_gate_sequence(), indent);
    }
    out_ += ", ";
    key("name");
    optional_string(g.name());
  } else if (shape == Shape::Ordinary) {
    out_ += ", ";
    key("parameter");
    parameter(g.parameter);
  }
  out_ += ", ";
  key("matrix");
  optional_matrix(g.matrix());
  out_ += '}';
}

void SequenceWriter::key(std::string_view name) {
  json_string(name);
  out_ += ": ";
}

void SequenceWriter::json_string(std::string_view value) {
  out_ += '"';
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out_ += "\\\"";
        break;
      case '\\':
        out_ += "\\\\";
        break;
      case '\n':
        out_ += "\\n";
        break;
      case '\r':
        out_ += "\\r";
        break;
      case '\t':
        out_ += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out_ += "\\u00";
          append_hex_byte(out_, byte);
        } else {
          out_ += c;
        }
    }
  }
  out_ += '"';
}

void SequenceWriter::json_number(double value) {
  if (std::isnan(value)) {
    out_ += "NaN";
  } else if (std::isinf(value)) {
    out_ += value > 0 ? "Infinity" : "-Infinity";
  } else {
    detail::append_shortest(out_, value);
  }
}

void SequenceWriter::index_list(const IndexList& indices) {
  out_ += '[';
  const char* separator = "";
  for (const std::int64_t index : indices) {
    out_ += separator;
    detail::append_int(out_, index);
    separator = ", ";
  }
  out_ += ']';
}

void SequenceWriter::optional_index_list(const std::optional<IndexList>& indices) {
  if (indices) {
    index_list(*indices);
  } else {
    out_ += "null";
  }
}

void SequenceWriter::optional_string(const std::optional<std::string>& value) {
  if (value) {
    json_string(*value);
  } else {
    out_ += "null";
  }
}

void SequenceWriter::parameter(const Parameter& param) {
  const auto scalar = [this](const ParamScalar& entry) {
    if (const auto* b = std::get_if<bool>(&entry)) {
      out_ += *b ? "true" : "false";
    } else if (const auto* i = std::get_if<std::int64_t>(&entry)) {
      detail::append_int(out_, *i);
    } else if (const auto* d = std::get_if<double>(&entry)) {
      json_number(*d);
    } else {
      json_string(std::get<std::string>(entry));
    }
  };
  switch (param.kind()) {
    case Parameter::Kind::Absent:
      out_ += "null";
      break;
    case Parameter::Kind::Bool:
      scalar(param.as_bool());
      break;
    case Parameter::Kind::Integer:
      scalar(param.as_integer());
      break;
    case Parameter::Kind::Double:
      scalar(param.as_double());
      break;
    case Parameter::Kind::Text:
      json_string(param.as_text());
      break;
    case Parameter::Kind::List: {
      out_ += '[';
      const char* separator = "";
      for (const ParamScalar& entry : param.as_list()) {
        out_ += separator;
        scalar(entry);
        separator = ", ";
      }
      out_ += ']';
      break;
    }
    case Parameter::Kind::Array:
      out_ += "{\"array\": ";
      matrix(param.as_array());
      out_ += '}';
      break;
  }
}

void SequenceWriter::matrix(const Matrix& m) {
  out_ += '[';
  for (std::size_t r = 0; r < m.rows; ++r) {
    if (r > 0) out_ += ", ";
    out_ += '[';
    for (std::size_t c = 0; c < m.cols; ++c) {
      if (c > 0) out_ += ", ";
      const std::complex<double> entry = m(r, c);
      out_ += '[';
      json_number(entry.real());
      out_ += ", ";
      json_number(entry.imag());
      out_ += ']';
    }
    out_ += ']';
  }
  out_ += ']';
}

void SequenceWriter::optional_matrix(const std::optional<Matrix>& m) {
  if (m) {
    matrix(*m);
  } else {
    out_ += "null";
  }
}

void SequenceWriter::registers(const RegisterList& regs) {
  out_ += '[';
  const char* separator = "";
  for (const RegisterDecl& reg : regs) {
    out_ += separator;
    out_ += '[';
    json_string(reg.name);
    out_ += ", ";
    detail::append_int(out_, reg.size);
    out_ += ']';
    separator = ", ";
  }
  out_ += ']';
}

std::size_t SequenceWriter::expanded_records(const std::vector<QuantumGate>& gates,
                                             BlockCounts& counts) {
  std::size_t total = 0;
  for (const QuantumGate& g : gates) {
    std::size_t records = 1;
    if (const GateBlock& block = g.block_gate_sequence()) {
      auto [entry, is_new] = counts.try_emplace(block.get(), 0);
      if (is_new) {
        const detail::DepthGuard guard(depth_);
        entry->second = expanded_records(*block, counts);
      }
      records = saturating_add(records, entry->second);
    }
    total = saturating_add(total, records);
  }
  return total;
}

void SequenceWriter::raise_too_large() {
  detail::raise_value_error("Gate sequence too large for the JSON form: more than " +
                            detail::int_text(static_cast<std::int64_t>(kMaxWrittenBytes)) +
                            " bytes");
}

void SequenceWriter::newline(int indent) {
  out_ += '\n';
  out_.append(static_cast<std::size_t>(indent), ' ');
}

}  // namespace

GateSequence read_gate_sequence_json(std::string_view text) {
  return SequenceReader().read(text);
}

std::string write_gate_sequence_json(const GateSequence& gs) {
  return SequenceWriter().write(gs);
}

}  // namespace corvane::qasm3::cli
