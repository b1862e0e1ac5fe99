// The expander's blocks that run on measured bits: `if`, `while` and `switch` whose
// condition reads bits a measurement wrote become conditioned blocks of the sink, their
// condition one comparison of those bits with a constant. What the condition may read is
// followed bit by bit: a bit holds a value the circuit knows when it runs only while the
// last thing to write it, on every way the program may have taken, was a measurement.
#include "qasm/lower/expander.hpp"

#include <algorithm>
#include <limits>

namespace corvane::qasm3::detail::lower::expansion {

namespace {

constexpr std::string_view IN_A_GATE = "A condition on measured bits in a gate's body";

Comparison negated(Comparison compare) {
  switch (compare) {
    case Comparison::Equal:
      return Comparison::NotEqual;
    case Comparison::NotEqual:
      return Comparison::Equal;
    case Comparison::Less:
      return Comparison::GreaterEqual;
    case Comparison::LessEqual:
      return Comparison::Greater;
    case Comparison::Greater:
      return Comparison::LessEqual;
    case Comparison::GreaterEqual:
      return Comparison::Less;
  }
  return compare;
}

// The comparison that holds for `value OP bits` where `compare` holds for `bits OP value`.
Comparison mirrored(Comparison compare) {
  switch (compare) {
    case Comparison::Less:
      return Comparison::Greater;
    case Comparison::LessEqual:
      return Comparison::GreaterEqual;
    case Comparison::Greater:
      return Comparison::Less;
    case Comparison::GreaterEqual:
      return Comparison::LessEqual;
    default:
      return compare;
  }
}

std::optional<Comparison> comparison_of(BinaryOp op) {
  switch (op) {
    case BinaryOp::EQUAL:
      return Comparison::Equal;
    case BinaryOp::NOT_EQUAL:
      return Comparison::NotEqual;
    case BinaryOp::LESS:
      return Comparison::Less;
    case BinaryOp::LESS_EQUAL:
      return Comparison::LessEqual;
    case BinaryOp::GREATER:
      return Comparison::Greater;
    case BinaryOp::GREATER_EQUAL:
      return Comparison::GreaterEqual;
    default:
      return std::nullopt;
  }
}

// One bit holds 0 or 1: `!= v` is `== 1 - v`, the form `if (c[0])` and `if (!c[0])` take.
void settle_one_bit(RuntimeCondition& tested) {
  if (tested.bits.size() == 1 && tested.compare == Comparison::NotEqual && tested.value <= 1) {
    tested.compare = Comparison::Equal;
    tested.value = 1 - tested.value;
  }
}

std::string bit_text(const PlainOperand& bit) {
  std::string text;
  append_operand_text(text, bit);
  return text;
}

}  // namespace

// ---------------------------------------------------------------- which conditions

bool Expander::names_bits(NodeId id) {
  const Expr& node = expr(id);
  switch (node.kind) {
    case ExprKind::NAME: {
      const Symbol* symbol = lookup(node.text);
      return symbol != nullptr && symbol->kind == SymbolKind::BITS;
    }
    case ExprKind::INDEX:
    case ExprKind::UNARY:
    case ExprKind::CAST:
      return names_bits(node.left);
    case ExprKind::BINARY:
      if (names_bits(node.left)) return true;
      // A left side known here that settles `&&` or `||` leaves the right one unread.
      if ((node.binary_op == BinaryOp::LOGICAL_AND || node.binary_op == BinaryOp::LOGICAL_OR) &&
          is_constant(node.left) &&
          evaluate(node.left).as_bool() == (node.binary_op == BinaryOp::LOGICAL_OR)) {
        return false;
      }
      return names_bits(node.right);
    case ExprKind::CALL: {
      const auto arguments = list(node.items);
      return std::any_of(arguments.begin(), arguments.end(),
                         [this](NodeId argument) { return names_bits(argument); });
    }
    default:
      return false;
  }
}

// The condition as one comparison of measured bits with a constant: a value of bits
// (below) alone is true when not zero; `!` tests the opposite; a comparison may have the
// bits on either side.
RuntimeCondition Expander::runtime_condition(NodeId id) {
  const Expr& node = expr(id);
  if (node.kind == ExprKind::UNARY && node.unary_op == UnaryOp::LOGICAL_NOT) {
    RuntimeCondition tested = runtime_condition(node.left);
    tested.compare = negated(tested.compare);
    settle_one_bit(tested);
    return tested;
  }
  if (node.kind == ExprKind::BINARY) {
    if (const auto compare = comparison_of(node.binary_op)) {
      const bool left_bits = names_bits(node.left);
      const bool right_bits = names_bits(node.right);
      if (left_bits && right_bits) {
        fail_unsupported(node.offset,
                         "A comparison of measured bits with measured bits is not supported");
      }
      const NodeId bits_side = left_bits ? node.left : node.right;
      const NodeId value_side = left_bits ? node.right : node.left;
      RuntimeCondition tested = measured_value(bits_side);
      if (tested.truth) {
        fail_unsupported(expr(bits_side).offset,
                         "A comparison of bool(...) of measured bits is not supported");
      }
      tested.compare = left_bits ? *compare : mirrored(*compare);
      compared_value(tested, value_side, node.offset);
      settle_one_bit(tested);
      return tested;
    }
  }
  RuntimeCondition tested = measured_value(id);
  tested.compare = tested.bits.size() == 1 ? Comparison::Equal : Comparison::NotEqual;
  tested.value = tested.bits.size() == 1 ? 1 : 0;
  return tested;
}

// Bits a condition compares: a bit register, one of its bits, a slice or set of them, or
// such bits cast to an integer (`int[2](flags)`) or bool.
RuntimeCondition Expander::measured_value(NodeId id) {
  const Expr& node = expr(id);
  switch (node.kind) {
    case ExprKind::NAME:
    case ExprKind::INDEX: {
      if (node.kind == ExprKind::INDEX && expr(node.left).kind != ExprKind::NAME) break;
      const Symbol* symbol = lookup(node.kind == ExprKind::NAME ? node.text : expr(node.left).text);
      if (symbol == nullptr || symbol->kind != SymbolKind::BITS) break;
      RuntimeCondition tested;
      tested.bits = bits(id).elements;
      tested.whole_register = node.kind == ExprKind::NAME && !symbol->scalar;
      if (tested.bits.empty()) fail_value(node.offset, "A condition reads no bits");
      return tested;
    }
    case ExprKind::CAST:
      return measured_cast(node);
    case ExprKind::BINARY:
      if (node.binary_op == BinaryOp::LOGICAL_AND || node.binary_op == BinaryOp::LOGICAL_OR) {
        fail_unsupported(node.offset, "'" + std::string(operator_symbol(node.binary_op)) +
                                          "' of measured bits is not supported");
      }
      if (comparison_of(node.binary_op)) break;
      fail_unsupported(node.offset, "Arithmetic on measured bits ('" +
                                        std::string(operator_symbol(node.binary_op)) +
                                        "') is not supported");
    case ExprKind::UNARY:
      if (node.unary_op != UnaryOp::LOGICAL_NOT) {
        fail_unsupported(node.offset, "Arithmetic on measured bits ('" +
                                          std::string(operator_symbol(node.unary_op)) +
                                          "') is not supported");
      }
      break;
    case ExprKind::CALL:
      fail_unsupported(node.offset, "A call of '" + std::string(node.text) +
                                        "' on measured bits is not supported");
    default:
      break;
  }
  fail_unsupported(node.offset, "This use of measured bits is not supported");
}

// An integer cast of n bits keeps their value when it is at least n bits wide; int[n]
// reads the last bit as the sign, which only an equality with a constant can test.
RuntimeCondition Expander::measured_cast(const Expr& node) {
  const ScalarType type = resolved_type(node.type, node.right);
  RuntimeCondition tested = measured_value(node.left);
  const auto count = static_cast<unsigned>(tested.bits.size());
  switch (type.kind) {
    case ScalarKind::BOOL:
      if (count > 1) tested.truth = true;
      return tested;
    case ScalarKind::INT:
    case ScalarKind::UINT:
    case ScalarKind::BIT:
      if (type.width && *type.width < count) {
        fail_unsupported(node.offset, "A cast of " + std::to_string(count) + " measured bits to " +
                                          type_name(type) + " is not supported");
      }
      tested.sign_bit = type.kind == ScalarKind::INT && type.width && *type.width == count;
      return tested;
    default:
      fail_unsupported(node.offset,
                       "A cast of measured bits to " + type_name(type) + " is not supported");
  }
}

// The constant a condition compares its bits with (written at `id`), as the unsigned
// value the bits hold when they equal it.
void Expander::compared_value(RuntimeCondition& tested, NodeId id, std::size_t offset) {
  const Value value = evaluate(id);
  const ScalarKind kind = value.type().kind;
  if (kind == ScalarKind::FLOAT || kind == ScalarKind::ANGLE) {
    fail_value(expr(id).offset, "A condition compares measured bits with an integer, not " +
                                    type_name(value.type()));
  }
  if (kind == ScalarKind::INT || tested.sign_bit) {
    compared_integer(tested, value.as_integer(), expr(id).offset, offset);
    return;
  }
  tested.value = value.bit_pattern();
}

// Read as int[n], n bits hold -2^(n-1) to 2^(n-1)-1, a negative value as its two's
// complement; otherwise only values from 0.
void Expander::compared_integer(RuntimeCondition& tested, std::int64_t value,
                                std::size_t value_offset, std::size_t offset) {
  const std::size_t count = tested.bits.size();
  if (tested.sign_bit && tested.compare != Comparison::Equal &&
      tested.compare != Comparison::NotEqual) {
    fail_unsupported(offset,
                     "An ordering of measured bits read as a signed integer is not supported");
  }
  if (value < 0) {
    const bool fits =
        tested.sign_bit && count > 0 && (count >= 64 || value >= -(std::int64_t{1} << (count - 1)));
    if (!fits) {
      fail_value(value_offset, "A condition compares " + std::to_string(count) +
                                   " measured bits with " + std::to_string(value) +
                                   ", a value they cannot hold");
    }
    const std::uint64_t mask = count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    tested.value = static_cast<std::uint64_t>(value) & mask;
    return;
  }
  if (tested.sign_bit && count < 64 && value >= std::int64_t{1} << (count - 1)) {
    fail_value(value_offset, "A condition compares " + std::to_string(count) +
                                 " measured bits read as int[" + std::to_string(count) + "] with " +
                                 std::to_string(value) + ", a value they cannot hold");
  }
  tested.value = static_cast<std::uint64_t>(value);
}

// ---------------------------------------------------------------- the state of bits

void Expander::set_bit_state(const PlainOperand& bit, std::uint8_t state) {
  bit_states_.insert_or_assign(BitKey{bit.name, bit.index}, state);
}

std::uint8_t Expander::bit_state(const PlainOperand& bit) const {
  const auto found = bit_states_.find(BitKey{bit.name, bit.index});
  return found == bit_states_.end() ? BitState::UNWRITTEN : found->second;
}

// A register declared again (bits declared in a loop's body, on each pass) starts afresh.
void Expander::forget_bits_of(std::string_view name) {
  auto at = bit_states_.lower_bound(BitKey{name, std::numeric_limits<std::int64_t>::min()});
  while (at != bit_states_.end() && at->first.name == name)
    at = bit_states_.erase(at);
}

// After one of two ways, a bit may hold what it may hold after either.
Expander::BitStates Expander::joined(const BitStates& a, const BitStates& b) {
  BitStates result = a;
  for (auto& [key, state] : result) {
    const auto found = b.find(key);
    state |= found == b.end() ? BitState::UNWRITTEN : found->second;
  }
  for (const auto& [key, state] : b) {
    if (!a.contains(key)) result.emplace(key, state | BitState::UNWRITTEN);
  }
  return result;
}

// Why a condition cannot read a bit in `state`; null when it can. The circuit keeps no
// assigned value. A bit nothing wrote holds zero in the circuit, as OpenQASM 2 starts
// registers; OpenQASM 3 leaves its value undefined, which zero is one of.
const char* Expander::unreadable_because(std::uint8_t state) {
  if ((state & BitState::ASSIGNED) == 0) return nullptr;
  return state == BitState::ASSIGNED ? "a value the circuit does not keep is assigned to it"
                                     : "a value the circuit does not keep may be assigned to it";
}

// Each bit a condition reads must hold what the circuit's bit holds; the loops that run on
// measured bits around it note the bits, which must still do so after their bodies.
void Expander::check_measured(const RuntimeCondition& tested, std::size_t offset) {
  for (const PlainOperand& bit : tested.bits) {
    if (const char* reason = unreadable_because(bit_state(bit))) {
      fail_unsupported(offset,
                       "A condition on '" + bit_text(bit) + "' is not supported: " + reason);
    }
    if (!loop_reads_.empty()) loop_reads_.back().push_back(bit);
  }
}

// ---------------------------------------------------------------- the blocks

// Where a block on measured bits would be left (`break` out of the loop around it,
// `return`, `end`) is known only when the circuit runs.
void Expander::check_flow_placement(const Stmt& stmt) {
  const bool leaves_block =
      stmt.kind == StmtKind::END ? runtime_blocks_ > 0 : runtime_blocks_in_loop_ > 0;
  if (!leaves_block) return;
  const char* keyword = stmt.kind == StmtKind::BREAK      ? "break"
                        : stmt.kind == StmtKind::CONTINUE ? "continue"
                        : stmt.kind == StmtKind::RETURN   ? "return"
                                                          : "end";
  fail_unsupported(stmt.offset, "'" + std::string(keyword) +
                                    "' in a block that runs on measured bits is not supported");
}

PlainCondition Expander::plain_condition(const RuntimeCondition& tested) {
  return PlainCondition{tested.bits, tested.whole_register, tested.compare, tested.value};
}

RuntimeCondition Expander::checked_condition(NodeId id, std::size_t offset) {
  if (in_gate()) fail_unsupported(offset, std::string(IN_A_GATE) + " is not supported");
  RuntimeCondition tested = placed(expr(id).offset, [&] { return runtime_condition(id); });
  check_condition_bits(tested, expr(id).offset);
  check_measured(tested, expr(id).offset);
  return tested;
}

// What a condition record holds: at most 64 bits, each once, and a value they can hold.
void Expander::check_condition_bits(const RuntimeCondition& tested, std::size_t offset) {
  const std::size_t count = tested.bits.size();
  if (count > MAX_CONDITION_BITS) {
    fail_unsupported(
        offset, "A condition on " + std::to_string(count) + " bits is not supported (64 at most)");
  }
  for (std::size_t k = 1; k < count; ++k) {
    for (std::size_t j = 0; j < k; ++j) {
      if (tested.bits[j].name == tested.bits[k].name &&
          tested.bits[j].index == tested.bits[k].index) {
        fail_value(offset, "A condition reads '" + bit_text(tested.bits[k]) + "' twice");
      }
    }
  }
  if (count < 64 && tested.value >> count != 0) {
    fail_value(offset, "A condition compares " + std::to_string(count) + " measured bits with " +
                           std::to_string(tested.value) + ", a value they cannot hold");
  }
}

// Statements run on measured bits: what they give to the program's classical variables
// and where they would leave to is known only when the circuit runs.
Flow Expander::runtime_body(Range body) {
  const std::size_t floor = runtime_blocks_ == 0 ? scopes_.size() : runtime_scope_floor_;
  const std::size_t outer_floor = std::exchange(runtime_scope_floor_, floor);
  ++runtime_blocks_;
  ++runtime_blocks_in_loop_;
  const Flow flow = statements_in_scope(body);
  --runtime_blocks_in_loop_;
  --runtime_blocks_;
  runtime_scope_floor_ = outer_floor;
  return flow;
}

Flow Expander::runtime_if(const Stmt& stmt) {
  const RuntimeCondition tested = checked_condition(stmt.value, stmt.offset);
  writer_.begin_if(plain_condition(tested));
  const BitStates before = bit_states_;
  runtime_body(stmt.body);
  if (stmt.else_body.size > 0) {
    BitStates after_body = std::exchange(bit_states_, before);
    writer_.begin_else();
    runtime_body(stmt.else_body);
    bit_states_ = joined(after_body, bit_states_);
  } else {
    bit_states_ = joined(before, bit_states_);
  }
  writer_.end_conditioned();
  return Flow::NEXT;
}

// Its body is written once and runs again and again: the bits that conditions in it (and
// its own) read must hold measurements after it as they did when it began.
Flow Expander::runtime_while(const Stmt& stmt) {
  loop_reads_.emplace_back();
  const RuntimeCondition tested = checked_condition(stmt.value, stmt.offset);
  writer_.begin_while(plain_condition(tested));
  const BitStates before = bit_states_;
  runtime_body(stmt.body);
  for (const PlainOperand& bit : loop_reads_.back()) {
    if (const char* reason = unreadable_because(bit_state(bit))) {
      fail_unsupported(expr(stmt.value).offset, "A condition on '" + bit_text(bit) +
                                                    "' is not supported: after the loop's body, " +
                                                    reason);
    }
  }
  std::vector<PlainOperand> reads = std::move(loop_reads_.back());
  loop_reads_.pop_back();
  if (!loop_reads_.empty()) {
    loop_reads_.back().insert(loop_reads_.back().end(), reads.begin(), reads.end());
  }
  bit_states_ = joined(before, bit_states_);
  writer_.end_conditioned();
  return Flow::NEXT;
}

// One `if` per case label, in the order written, each in the else-block of the one before;
// the default last, in the innermost else-block.
Flow Expander::runtime_switch(const Stmt& stmt, std::span<const CaseLabel> labels,
                              NodeId fallback) {
  RuntimeCondition tested = checked_condition(stmt.value, stmt.offset);
  if (tested.truth) {
    fail_unsupported(expr(stmt.value).offset,
                     "A 'switch' on bool(...) of measured bits is not supported");
  }
  const BitStates before = bit_states_;
  std::optional<BitStates> after;
  const auto branch = [&](NodeId item) {
    runtime_body(program_->stmts[item].body);
    after = after ? joined(*after, bit_states_) : bit_states_;
    bit_states_ = before;
  };
  for (std::size_t k = 0; k < labels.size(); ++k) {
    tested.compare = Comparison::Equal;
    compared_integer(tested, labels[k].value, expr(labels[k].label).offset,
                     expr(labels[k].label).offset);
    check_condition_bits(tested, expr(labels[k].label).offset);
    if (k > 0) writer_.begin_else();
    writer_.begin_if(plain_condition(tested));
    branch(labels[k].item);
  }
  if (fallback != NO_NODE) {
    writer_.begin_else();
    branch(fallback);
  } else {
    after = joined(*after, before);
  }
  bit_states_ = std::move(*after);
  for (std::size_t k = 0; k < labels.size(); ++k)
    writer_.end_conditioned();
  return Flow::NEXT;
}

}  // namespace corvane::qasm3::detail::lower::expansion
