// Writing the JSON form: records are appended to one buffer that is handed on whenever
// it holds a megabyte, so the text of a large sequence never has to fit in memory.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "corvane/backend/qasm/text_forms.hpp"
#include "json_form.hpp"

namespace corvane::qasm3::cli {
namespace {

enum class Shape { Measurement, Conditioned, Block, Generated, Ordinary };

// The constructor shape the importer would have used for a record like `gate`. The
// importer gives a matrix without a parameter to two kinds of record: "unitary" calls,
// which are ordinary records, and recognised generated definitions.
Shape shape_of(const QuantumGate& gate) {
  if (gate.id == "measure" && gate.classical_target()) return Shape::Measurement;
  if (gate.condition()) return Shape::Conditioned;
  if (gate.block_gate_sequence()) return Shape::Block;
  if (gate.matrix() && gate.parameter.is_absent() && gate.id != "unitary") return Shape::Generated;
  return Shape::Ordinary;
}

// The buffer is handed on once it holds this much.
constexpr std::size_t PIECE_BYTES = std::size_t{1} << 20;

// No record takes fewer bytes of text than this; the shortest is a measurement:
// {"id": "measure", "target": [], "classical_target": [], "name": null}
constexpr std::size_t SHORTEST_RECORD_BYTES = 60;

std::size_t saturating_add(std::size_t a, std::size_t b) {
  return a > std::numeric_limits<std::size_t>::max() - b ? std::numeric_limits<std::size_t>::max()
                                                         : a + b;
}

std::size_t saturating_multiply(std::size_t a, std::size_t b) {
  return b != 0 && a > std::numeric_limits<std::size_t>::max() / b
             ? std::numeric_limits<std::size_t>::max()
             : a * b;
}

// The fewest bytes the written keys of `gate` can take, its nested records aside: one
// byte per index, list entry and text byte, six per matrix entry ("[0, 0]").
std::size_t shortest_record_bytes(const QuantumGate& gate) {
  const auto matrix_bytes = [](const std::optional<Matrix>& m) {
    return m ? saturating_multiply(m->data.size(), 6) : 0;
  };
  std::size_t bytes = SHORTEST_RECORD_BYTES + gate.id.size() + gate.target.size();
  const Shape shape = shape_of(gate);
  if (shape == Shape::Measurement) {
    return bytes + gate.classical_target()->size() + gate.name().value_or("").size();
  }
  if (shape == Shape::Conditioned) return bytes + gate.condition()->bits().size();
  bytes += gate.control.size() + gate.control_state.size();
  bytes = saturating_add(bytes, matrix_bytes(gate.matrix()));
  if (shape == Shape::Block) bytes += gate.name().value_or("").size();
  if (shape != Shape::Ordinary) return bytes;
  switch (gate.parameter.kind()) {
    case Parameter::Kind::Text:
      return bytes + gate.parameter.as_text().size();
    case Parameter::Kind::List:
      return bytes + gate.parameter.as_list().size();
    case Parameter::Kind::Array:
      return saturating_add(bytes, saturating_multiply(gate.parameter.as_array().data.size(), 6));
    default:
      return bytes;
  }
}

// What the text of a list of records takes, every block written out at each use.
struct ListExtent {
  std::size_t shortest_bytes = 0;  // saturates
  int block_depth = 0;             // levels of blocks below the list
};

// Measures a sequence before anything is written, so that every failure comes first.
// Each distinct block is measured once, however often it is used.
class ExtentMeter {
 public:
  ListExtent measure(const std::vector<QuantumGate>& gates, int depth) {
    ListExtent extent;
    for (const QuantumGate& g : gates) {
      std::size_t bytes = shortest_record_bytes(g);
      add_nested(g.block_gate_sequence(), depth, bytes, extent);
      if (shape_of(g) == Shape::Conditioned)
        add_nested(g.else_gate_sequence(), depth, bytes, extent);
      extent.shortest_bytes = saturating_add(extent.shortest_bytes, bytes);
    }
    return extent;
  }

 private:
  // Adds what a nested list of a record written at `depth` takes to the record's `bytes`
  // and its levels to `extent`.
  void add_nested(const GateBlock& nested, int depth, std::size_t& bytes, ListExtent& extent) {
    if (!nested) return;
    const ListExtent& inner = block_extent(*nested, depth + 1);
    if (depth + 1 + inner.block_depth > MAX_NESTING_DEPTH) {
      throw RecursionError(std::string(RECURSION_MESSAGE));
    }
    bytes = saturating_add(bytes, inner.shortest_bytes);
    extent.block_depth = std::max(extent.block_depth, 1 + inner.block_depth);
  }

  const ListExtent& block_extent(const std::vector<QuantumGate>& block, int depth) {
    if (depth > MAX_NESTING_DEPTH) throw RecursionError(std::string(RECURSION_MESSAGE));
    const auto known = extents_.find(&block);
    if (known != extents_.end()) return known->second;
    const ListExtent extent = measure(block, depth);
    return extents_.emplace(&block, extent).first->second;
  }

  std::unordered_map<const std::vector<QuantumGate>*, ListExtent> extents_;
};

// Appends JSON text into one buffer. Records stand one per line, nested block records
// indented below the record that holds them.
class SequenceWriter {
 public:
  explicit SequenceWriter(const JsonSink& sink) : sink_(sink) { out_.reserve(2 * PIECE_BYTES); }

  void write(const GateSequence& gs);

 private:
  void gate_list(const std::vector<QuantumGate>& gates, int indent);
  void optional_gate_list(const GateBlock& gates, int indent);
  void gate(const QuantumGate& gate, int indent);
  void json_string(std::string_view value);
  void integer(std::int64_t value);
  void number(double value);
  template <class Items, class Item>
  void list(const Items& items, Item&& item);
  void index_list(const IndexList& indices);
  void condition(const Condition& tested);
  void optional_index_list(const std::optional<IndexList>& indices);
  void optional_string(const std::optional<std::string>& value);
  void parameter(const Parameter& param);
  void parameter_entry(const ParamScalar& entry);
  void matrix(const Matrix& m);
  void optional_matrix(const std::optional<Matrix>& m);
  void registers(const RegisterList& regs);
  void measure_map(const std::vector<MeasurePair>& pairs);
  void newline(int indent);
  void hand_on();

  const JsonSink& sink_;
  std::string out_;
};

void SequenceWriter::write(const GateSequence& gs) {
  if (ExtentMeter().measure(gs.data(), 0).shortest_bytes > MAX_WRITTEN_BYTES) {
    throw ValueError("Gate sequence too large for the JSON form: more than " +
                     std::to_string(MAX_WRITTEN_BYTES) + " bytes");
  }
  out_ += "{\n  \"num_qubits\": ";
  integer(gs.num_qubits);
  out_ += ",\n  \"gates\": ";
  gate_list(gs.data(), 2);
  out_ += ",\n  \"qasm_quantum_registers\": ";
  if (gs.qasm_quantum_registers) {
    registers(*gs.qasm_quantum_registers);
  } else {
    out_ += "null";
  }
  if (gs.qasm_classical_registers) {
    out_ += ",\n  \"qasm_classical_registers\": ";
    registers(*gs.qasm_classical_registers);
  }
  if (gs.qasm_measure_map) {
    out_ += ",\n  \"qasm_measure_map\": ";
    measure_map(*gs.qasm_measure_map);
  }
  if (!gs.qasm_inputs.empty()) {
    out_ += ",\n  \"qasm_inputs\": ";
    list(gs.qasm_inputs, [this](const InputDecl& input) {
      out_ += '[';
      json_string(input.name);
      out_ += ", ";
      json_string(input.type);
      out_ += ']';
    });
  }
  out_ += "\n}\n";
  sink_(out_);
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
    if (out_.size() >= PIECE_BYTES) hand_on();
  }
  newline(indent);
  out_ += ']';
}

void SequenceWriter::optional_gate_list(const GateBlock& gates, int indent) {
  if (gates) {
    gate_list(*gates, indent);
  } else {
    out_ += "null";
  }
}

void SequenceWriter::gate(const QuantumGate& g, int indent) {
  const Shape shape = shape_of(g);
  out_ += "{\"id\": ";
  json_string(g.id);
  out_ += ", \"target\": ";
  index_list(g.target);
  if (shape == Shape::Measurement) {
    out_ += ", \"classical_target\": ";
    optional_index_list(g.classical_target());
    out_ += ", \"name\": ";
    optional_string(g.name());
    out_ += '}';
    return;
  }
  if (shape == Shape::Conditioned) {
    out_ += ", \"condition\": ";
    condition(*g.condition());
    out_ += ", \"block_gate_sequence\": ";
    optional_gate_list(g.block_gate_sequence(), indent);
    if (g.id == "if") {
      out_ += ", \"else_gate_sequence\": ";
      optional_gate_list(g.else_gate_sequence(), indent);
    }
    out_ += '}';
    return;
  }
  out_ += ", \"control\": ";
  index_list(g.control);
  out_ += ", \"control_state\": ";
  index_list(g.control_state);
  if (shape == Shape::Block) {
    out_ += ", \"block_gate_sequence\": ";
    gate_list(*g.block_gate_sequence(), indent);
    out_ += ", \"name\": ";
    optional_string(g.name());
  } else if (shape == Shape::Ordinary) {
    out_ += ", \"parameter\": ";
    parameter(g.parameter);
  }
  out_ += ", \"matrix\": ";
  optional_matrix(g.matrix());
  out_ += '}';
}

void SequenceWriter::json_string(std::string_view value) {
  constexpr std::string_view HEX_DIGITS = "0123456789abcdef";
  out_ += '"';
  for (const char c : value) {
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
        if (static_cast<unsigned char>(c) < 0x20) {
          out_ += "\\u00";
          out_ += HEX_DIGITS[(c >> 4) & 0xF];
          out_ += HEX_DIGITS[c & 0xF];
        } else {
          out_ += c;
        }
    }
  }
  out_ += '"';
}

void SequenceWriter::integer(std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out_.append(digits, result.ptr);
}

// Infinities and NaN, which JSON lacks, take the words JSON readers commonly accept.
void SequenceWriter::number(double value) {
  if (std::isnan(value)) {
    out_ += "NaN";
  } else if (std::isinf(value)) {
    out_ += value > 0 ? "Infinity" : "-Infinity";
  } else {
    append_shortest(out_, value);
  }
}

// "[a, b, c]", each item written by item().
template <class Items, class Item>
void SequenceWriter::list(const Items& items, Item&& item) {
  out_ += '[';
  const char* separator = "";
  for (const auto& entry : items) {
    out_ += separator;
    item(entry);
    separator = ", ";
  }
  out_ += ']';
}

void SequenceWriter::index_list(const IndexList& indices) {
  list(indices, [this](std::int64_t index) { integer(index); });
}

// {"bits": [...], "compare": "==", "value": n}
void SequenceWriter::condition(const Condition& tested) {
  out_ += "{\"bits\": ";
  index_list(tested.bits());
  out_ += ", \"compare\": ";
  json_string(comparison_text(tested.compare()));
  out_ += ", \"value\": ";
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, tested.value());
  out_.append(digits, result.ptr);
  out_ += '}';
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

void SequenceWriter::parameter_entry(const ParamScalar& entry) {
  if (const auto* b = std::get_if<bool>(&entry)) {
    out_ += *b ? "true" : "false";
  } else if (const auto* i = std::get_if<std::int64_t>(&entry)) {
    integer(*i);
  } else if (const auto* d = std::get_if<double>(&entry)) {
    number(*d);
  } else {
    json_string(std::get<std::string>(entry));
  }
}

void SequenceWriter::parameter(const Parameter& param) {
  switch (param.kind()) {
    case Parameter::Kind::Absent:
      out_ += "null";
      break;
    case Parameter::Kind::Bool:
      parameter_entry(param.as_bool());
      break;
    case Parameter::Kind::Integer:
      integer(param.as_integer());
      break;
    case Parameter::Kind::Double:
      number(param.as_double());
      break;
    case Parameter::Kind::Text:
      json_string(param.as_text());
      break;
    case Parameter::Kind::List:
      list(param.as_list(), [this](const ParamScalar& entry) { parameter_entry(entry); });
      break;
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
    list(std::span(m.data).subspan(r * m.cols, m.cols), [this](const std::complex<double>& entry) {
      out_ += '[';
      number(entry.real());
      out_ += ", ";
      number(entry.imag());
      out_ += ']';
    });
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
  list(regs, [this](const RegisterDecl& reg) {
    out_ += '[';
    json_string(reg.name);
    out_ += ", ";
    integer(reg.size);
    out_ += ']';
  });
}

void SequenceWriter::measure_map(const std::vector<MeasurePair>& pairs) {
  list(pairs, [this](const MeasurePair& pair) {
    out_ += '[';
    integer(pair.first);
    out_ += ", ";
    integer(pair.second);
    out_ += ']';
  });
}

void SequenceWriter::newline(int indent) {
  out_ += '\n';
  out_.append(static_cast<std::size_t>(indent), ' ');
}

void SequenceWriter::hand_on() {
  sink_(out_);
  out_.clear();
}

}  // namespace

void write_gate_sequence_json(const GateSequence& gs, const JsonSink& sink) {
  SequenceWriter(sink).write(gs);
}

}  // namespace corvane::qasm3::cli
