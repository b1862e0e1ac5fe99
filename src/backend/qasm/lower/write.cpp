#include "qasm/lower/write.hpp"

#include <array>
#include <charconv>
#include <utility>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

namespace {
constexpr std::string_view HEADER = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";
}  // namespace

Writer::Writer(std::size_t expected_bytes) {
  reserve_for_filling(out_, HEADER.size() + expected_bytes);
  out_.append(HEADER);
}

void Writer::qubit_declaration(std::string_view name, std::optional<std::int64_t> size) {
  declaration("qubit", name, size);
}

void Writer::bit_declaration(std::string_view name, std::optional<std::int64_t> size) {
  declaration("bit", name, size);
}

void Writer::declaration(std::string_view type, std::string_view name,
                         std::optional<std::int64_t> size) {
  std::string text(type);
  if (size) {
    text.push_back('[');
    append_int(text, *size);
    text.push_back(']');
  }
  text.push_back(' ');
  text.append(name);
  text.append(";\n");
  if (open_blocks_ == 0) {
    out_.append(text);
    return;
  }
  out_.insert(blocks_start_, text);
  blocks_start_ += text.size();
}

void Writer::begin_definition(std::string_view name, std::span<const std::string_view> arguments) {
  out_.append("gate ");
  out_.append(name);
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    out_.append(k == 0 ? " " : ", ");
    out_.append(arguments[k]);
  }
  out_.append(" {\n");
  in_definition_ = true;
}

void Writer::end_definition() {
  out_.append("}\n");
  in_definition_ = false;
}

void Writer::indent() {
  out_.append(static_cast<std::size_t>(2 * ((in_definition_ ? 1 : 0) + open_blocks_)), ' ');
}

void append_operand_text(std::string& out, const PlainOperand& operand) {
  out.append(operand.name);
  if (operand.index == PlainOperand::NO_INDEX) return;
  // `[index]` is made on the stack and appended at once: one call instead of three.
  std::array<char, 24> index{};
  index[0] = '[';
  char* end = std::to_chars(index.data() + 1, index.data() + index.size() - 1, operand.index).ptr;
  *end++ = ']';
  out.append(index.data(), end);
}

void append_call_text(std::string& out, const PlainCall& call) {
  for (const std::uint8_t positive : call.controls)
    out.append(positive != 0 ? "ctrl @ " : "negctrl @ ");
  out.append(call.name);
  if (call.has_parameters) {
    out.push_back('(');
    for (std::size_t k = 0; k < call.parameters.size(); ++k) {
      if (k > 0) out.append(", ");
      if (k < call.free.size() && !call.free[k].empty()) {
        out.append(call.free[k]);
      } else {
        append_shortest(out, call.parameters[k]);
      }
    }
    out.push_back(')');
  }
  for (std::size_t k = 0; k < call.operands.size(); ++k) {
    out.append(k == 0 ? " " : ", ");
    append_operand_text(out, call.operands[k]);
  }
}

void Writer::call(const PlainCall& call) {
  indent();
  append_call_text(out_, call);
  out_.append(";\n");
}

void Writer::measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit) {
  indent();
  if (bit) {
    append_operand_text(out_, *bit);
    out_.append(" = ");
  }
  out_.append("measure ");
  append_operand_text(out_, qubit);
  out_.append(";\n");
}

void Writer::reset(const PlainOperand& qubit) {
  indent();
  out_.append("reset ");
  append_operand_text(out_, qubit);
  out_.append(";\n");
}

namespace {

// Whether `bits` are consecutive elements of their register, ascending.
bool consecutive(std::span<const PlainOperand> bits) {
  for (std::size_t k = 1; k < bits.size(); ++k) {
    if (bits[k].index != bits[k - 1].index + 1) return false;
  }
  return bits.front().index != PlainOperand::NO_INDEX;
}

}  // namespace

void append_condition_text(std::string& out, const PlainCondition& condition) {
  const std::span<const PlainOperand> bits = condition.bits;
  if (condition.whole_register) {
    out.append(bits.front().name);
  } else if (bits.size() == 1) {
    append_operand_text(out, bits.front());
  } else if (consecutive(bits)) {
    out.append(bits.front().name);
    out.push_back('[');
    append_int(out, bits.front().index);
    out.push_back(':');
    append_int(out, bits.back().index);
    out.push_back(']');
  } else {
    out.append(bits.front().name);
    out.append("[{");
    for (std::size_t k = 0; k < bits.size(); ++k) {
      if (k > 0) out.append(", ");
      append_int(out, bits[k].index);
    }
    out.append("}]");
  }
  out.push_back(' ');
  out.append(comparison_text(condition.compare));
  out.push_back(' ');
  out.append(std::to_string(condition.value));
}

void Writer::begin_conditioned(std::string_view keyword, const PlainCondition& condition) {
  if (open_blocks_ == 0) blocks_start_ = out_.size();
  indent();
  out_.append(keyword);
  out_.append(" (");
  append_condition_text(out_, condition);
  out_.append(") {\n");
  ++open_blocks_;
  else_lines_.emplace_back();
}

void Writer::begin_if(const PlainCondition& condition) {
  begin_conditioned("if", condition);
}

void Writer::begin_while(const PlainCondition& condition) {
  begin_conditioned("while", condition);
}

void Writer::begin_else() {
  const std::size_t start = out_.size();
  --open_blocks_;
  indent();
  out_.append("} else {\n");
  ++open_blocks_;
  else_lines_.back() = ElseLine{start, out_.size()};
}

void Writer::end_conditioned() {
  const std::optional<ElseLine> else_line = else_lines_.back();
  else_lines_.pop_back();
  if (else_line && else_line->end == out_.size()) out_.resize(else_line->start);
  --open_blocks_;
  indent();
  out_.append("}\n");
}

// Declared after the header, before anything that uses them.
void Writer::free_inputs(std::span<const FreeInput> inputs) {
  std::string declarations;
  for (const FreeInput& input : inputs)
    declarations += "input " + input.type + " " + input.name + ";\n";
  out_.insert(HEADER.size(), declarations);
}

std::string Writer::take() {
  return std::exchange(out_, std::string());
}

}  // namespace corvane::qasm3::detail::lower
