#include "qasm/export/full_language.hpp"

#include <cmath>
#include <complex>
#include <unordered_set>
#include <utility>
#include <variant>

#include "qasm/records/free_inputs.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ parameters

namespace {

std::string count_text(std::size_t count) {
  if (count == 0) return "no parameters";
  return std::to_string(count) + (count == 1 ? " parameter" : " parameters");
}

[[noreturn]] void raise_not_one_expression(std::string_view text) {
  raise_value_error("Parameter " + quoted(text) + " is not one expression");
}

void check_expression(std::string_view text) {
  if (!is_one_expression(text)) raise_not_one_expression(text);
}

// How many values the parameter writes, its texts checked on the way.
std::size_t written_values(const QuantumGate& g) {
  const Parameter& p = g.parameter;
  switch (p.kind()) {
    case Parameter::Kind::Absent:
      return 0;
    case Parameter::Kind::Text:
      check_expression(p.as_text());
      return 1;
    case Parameter::Kind::List: {
      const ParamListView items = p.as_list();
      for (const ParamScalar& item : items) {
        if (const auto* text = std::get_if<std::string>(&item)) check_expression(*text);
      }
      return items.size();
    }
    case Parameter::Kind::Array: {
      const Matrix& m = p.as_array();
      if (m.data.size() != 1 || m.data[0].imag() != 0.0) {
        raise_value_error("The array parameter of " + quoted(g.id) +
                          " is not a number, which a parameter list holds");
      }
      return 1;
    }
    default:
      return 1;
  }
}

}  // namespace

int parameters_taken(std::string_view name) noexcept {
  if (name == "rzz") return 1;  // the angle of the "rz" between its two "cx"
  return lookup(PARAMETER_COUNTS, name).value_or(0);
}

void check_parameters(const QuantumGate& g, int takes) {
  const std::size_t values = written_values(g);
  if (std::cmp_not_equal(values, takes)) {
    raise_value_error(quoted(g.id) + " takes " + count_text(static_cast<std::size_t>(takes)) +
                      ", got " + std::to_string(values));
  }
}

void check_control_states(const QuantumGate& g) {
  if (g.control.size() == g.control_state.size()) return;
  raise_value_error(quoted(g.id) + " has " + std::to_string(g.control.size()) + " controls and " +
                    std::to_string(g.control_state.size()) + " control states");
}

bool is_one_expression(std::string_view text) noexcept {
  std::string open;  // the brackets not yet closed, innermost last
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '(':
      case '[':
        open += c;
        break;
      case ')':
      case ']':
        if (open.empty() || open.back() != (c == ')' ? '(' : '[')) return false;
        open.pop_back();
        break;
      case ',':
        if (open.empty()) return false;
        break;
      case ';':
      case '{':
      case '}':
      case '\n':
      case '\r':
        return false;
      case '/':
        if (i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '*')) return false;
        break;
      default:
        break;
    }
  }
  return open.empty() && !trim(text).empty();
}

// ------------------------------------------------------------------ matrices

void check_unitary_matrix(const Matrix& m, std::size_t targets) {
  for (const std::complex<double>& z : m.data) {
    for (const double part : {z.real(), z.imag()}) {
      if (!std::isfinite(part)) {
        std::string shown;
        append_shortest(shown, part);
        raise_value_error("QASM gate parameter must be finite; got " + shown);
      }
    }
  }
  constexpr std::size_t MOST_TARGETS = 31;  // beyond, no matrix of 2^targets rows is held
  const std::size_t dimension = targets < MOST_TARGETS ? std::size_t{1} << targets : 0;
  if (m.rows == dimension && m.cols == dimension) return;
  const std::string side =
      dimension != 0 ? std::to_string(dimension) : "2^" + std::to_string(targets);
  raise_value_error("'unitary' on " + std::to_string(targets) +
                    (targets == 1 ? " target qubit" : " target qubits") + " needs a " + side + "x" +
                    side + " matrix, got " + std::to_string(m.rows) + "x" + std::to_string(m.cols));
}

// ------------------------------------------------------------------ registers

void check_register_names(const RegisterViews& quantum, const RegisterViews& classical) {
  std::unordered_set<std::string_view> seen;
  for (const RegisterViews* regs : {&quantum, &classical}) {
    for (const RegisterView& reg : *regs) {
      if (!is_identifier(reg.name)) {
        raise_value_error("Register name " + quoted(reg.name) + " is not an identifier");
      }
      if (is_reserved_word(reg.name)) {
        raise_value_error("Register name " + quoted(reg.name) + " is a reserved word");
      }
      if (!seen.insert(reg.name).second) {
        raise_value_error("Register name " + quoted(reg.name) + " is declared twice");
      }
    }
  }
}

void check_names_against_definitions(const RegisterViews& quantum, const RegisterViews& classical,
                                     const Qasm3Ctx& ctx) {
  if (ctx.gate_defs().empty()) return;
  for (const RegisterViews* regs : {&quantum, &classical}) {
    for (const RegisterView& reg : *regs) {
      if (ctx.has_def_named(reg.name)) {
        raise_value_error("Register name " + quoted(reg.name) +
                          " is also the name of a gate definition the program needs");
      }
    }
  }
}

namespace {

bool names_a_register(std::string_view name, const RegisterViews& quantum,
                      const RegisterViews& classical) {
  for (const RegisterViews* regs : {&quantum, &classical}) {
    for (const RegisterView& reg : *regs) {
      if (reg.name == name) return true;
    }
  }
  return false;
}

}  // namespace

void append_free_inputs(std::string& out, const std::vector<InputDecl>& inputs,
                        const RegisterViews& quantum, const RegisterViews& classical,
                        const Qasm3Ctx& ctx) {
  std::unordered_set<std::string_view> seen;
  for (const InputDecl& input : inputs) {
    append_input_declaration(out, input);
    const std::string what = "Free input " + quoted(input.name);
    if (is_reserved_word(input.name)) raise_value_error(what + " is a reserved word");
    if (!seen.insert(input.name).second) raise_value_error(what + " is declared twice");
    if (names_a_register(input.name, quantum, classical)) {
      raise_value_error(what + " is also the name of a register");
    }
    if (ctx.has_def_named(input.name)) {
      raise_value_error(what + " is also the name of a gate definition the program needs");
    }
  }
}

// ------------------------------------------------------------------ conditions

namespace {

std::string bits_text(const IndexList& bits) {
  std::string out = "[";
  for (std::size_t k = 0; k < bits.size(); ++k) {
    if (k > 0) out += ", ";
    append_int(out, bits[k]);
  }
  return out + "]";
}

}  // namespace

void append_condition(std::string& out, const Condition& tested, const RegisterIndexer& bits) {
  const IndexList& read = tested.bits();
  for (const std::int64_t bit : read)
    bits.check(bit);
  const RegisterIndexer::Place first = bits.place_of(read[0]);
  const std::uint64_t count = read.size();
  bool run = count <= first.size - first.offset;
  for (std::size_t k = 1; run && k < read.size(); ++k)
    run = read[k] == read[0] + static_cast<std::int64_t>(k);
  if (!run) {
    raise_value_error("Condition bits " + bits_text(read) +
                      " are not one register, one bit or a run of one register's bits");
  }
  out += first.name;
  if (count != first.size) {
    out += '[';
    out += std::to_string(first.offset);
    if (count > 1) {
      out += ':';
      out += std::to_string(first.offset + count - 1);
    }
    out += ']';
  }
  out += ' ';
  out += comparison_text(tested.compare());
  out += ' ';
  out += std::to_string(tested.value());
}

void raise_controlled(std::string_view gid) {
  raise_not_implemented("QASM 3.0 export does not support controlled " + quoted(gid) + " records.");
}

void raise_repeated_operand(std::int64_t qubit, std::string_view gid) {
  std::string message = "A statement of ";
  message += quoted(gid);
  message += " would name qubit ";
  append_int(message, qubit);
  message += " twice";
  raise_value_error(message);
}

}  // namespace corvane::qasm3::detail
