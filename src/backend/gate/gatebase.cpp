#include "corvane/backend/gate/gatebase.hpp"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

#include "common/depth_guard.hpp"

namespace corvane {

Matrix::Matrix(std::size_t r, std::size_t c, std::vector<std::complex<double>> entries)
    : rows(r), cols(c), data(std::move(entries)) {
  if (data.size() != r * c) throw std::invalid_argument("Matrix entries do not match its shape");
}

// ---------------------------------------------------------------- IndexList

void IndexList::copy_from(const IndexList& other) {
  assign(other.data(), other.size_);
}

IndexList& IndexList::operator=(const IndexList& other) {
  if (this != &other) {
    size_ = 0;
    copy_from(other);
  }
  return *this;
}

void IndexList::assign_to_heap(const std::int64_t* values, std::size_t count) {
  reserve(count);
  std::copy(values, values + count, data());
  size_ = static_cast<std::uint32_t>(count);
}

void IndexList::free_heap() noexcept {
  delete[] heap_;
}

void IndexList::grow_to(std::size_t n) {
  if (n > UINT32_MAX) throw std::length_error("IndexList too long");
  auto* fresh = new std::int64_t[n];
  std::copy(begin(), end(), fresh);
  std::uint32_t kept = size_;
  release();
  heap_ = fresh;
  capacity_ = static_cast<std::uint32_t>(n);
  size_ = kept;
}

bool operator==(const IndexList& a, const IndexList& b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// ---------------------------------------------------------------- Parameter

Parameter::Parameter(std::string v) : value_(std::make_shared<const std::string>(std::move(v))) {}
namespace {

// The entries of `items` as numbers, when they are all floating-point ones.
bool read_numbers(const std::vector<ParamScalar>& items, double* numbers) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto* number = std::get_if<double>(&items[i]);
    if (number == nullptr) return false;
    numbers[i] = *number;
  }
  return true;
}

}  // namespace

Parameter::Parameter(ParamList v) {
  static_assert(std::variant_size_v<decltype(value_)> ==
                FIRST_NUMBER_TUPLE + ParamListView::MAX_HELD);
  static_assert(std::is_same_v<std::variant_alternative_t<FIRST_NUMBER_TUPLE, decltype(value_)>,
                               NumberTuple<1>>);
  double numbers[ParamListView::MAX_HELD];
  if (v.is_tuple && !v.items.empty() && v.items.size() <= ParamListView::MAX_HELD &&
      read_numbers(v.items, numbers)) {
    *this = number_tuple(std::span<const double>(numbers, v.items.size()));
  } else {
    value_ = std::make_shared<const ParamList>(std::move(v));
  }
}
Parameter::Parameter(Matrix v) : value_(std::make_shared<const Matrix>(std::move(v))) {}

Parameter Parameter::list(std::vector<ParamScalar> items, bool as_tuple) {
  return Parameter(ParamList{std::move(items), as_tuple});
}

Parameter Parameter::number_tuple(std::span<const double> numbers) {
  switch (numbers.size()) {
    case 1:
      return Parameter(NumberTuple<1>{{numbers[0]}});
    case 2:
      return Parameter(NumberTuple<2>{{numbers[0], numbers[1]}});
    case 3:
      return Parameter(NumberTuple<3>{{numbers[0], numbers[1], numbers[2]}});
    default:
      return list(std::vector<ParamScalar>(numbers.begin(), numbers.end()), /*as_tuple=*/true);
  }
}

bool operator==(const Parameter& a, const Parameter& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Parameter::Kind::Absent:
      return true;
    case Parameter::Kind::Bool:
      return a.as_bool() == b.as_bool();
    case Parameter::Kind::Integer:
      return a.as_integer() == b.as_integer();
    case Parameter::Kind::Double:
      return a.as_double() == b.as_double();
    case Parameter::Kind::Text:
      return a.as_text() == b.as_text();
    case Parameter::Kind::List:
      return a.as_list() == b.as_list();
    case Parameter::Kind::Array:
      return a.as_array() == b.as_array();
  }
  return false;
}

// ---------------------------------------------------------------- QuantumGate

// ---------------------------------------------------------------- Condition

namespace {

constexpr std::pair<Comparison, std::string_view> COMPARISON_TEXTS[] = {
    {Comparison::Equal, "=="},     {Comparison::NotEqual, "!="}, {Comparison::Less, "<"},
    {Comparison::LessEqual, "<="}, {Comparison::Greater, ">"},   {Comparison::GreaterEqual, ">="},
};

[[noreturn]] void refuse_condition(const std::string& message) {
  throw qasm3::ValueError(message);
}

void check_condition_bits(const IndexList& bits) {
  if (bits.empty()) refuse_condition("a condition needs at least one bit");
  if (bits.size() > MAX_CONDITION_BITS) {
    throw qasm3::NotImplementedError("a condition reads at most " +
                                     std::to_string(MAX_CONDITION_BITS) + " bits, got " +
                                     std::to_string(bits.size()));
  }
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] < 0) {
      refuse_condition("condition bits must not be negative, got " + std::to_string(bits[i]));
    }
    if (std::find(bits.begin(), bits.begin() + i, bits[i]) != bits.begin() + i) {
      refuse_condition("condition bit " + std::to_string(bits[i]) + " appears twice");
    }
  }
}

}  // namespace

std::string_view comparison_text(Comparison compare) noexcept {
  for (const auto& [comparison, text] : COMPARISON_TEXTS) {
    if (comparison == compare) return text;
  }
  return {};
}

std::optional<Comparison> comparison_from_text(std::string_view text) noexcept {
  for (const auto& [comparison, written] : COMPARISON_TEXTS) {
    if (written == text) return comparison;
  }
  return std::nullopt;
}

Condition::Condition(IndexList bits, Comparison compare, std::uint64_t value)
    : bits_(std::move(bits)), compare_(compare), value_(value) {
  check_condition_bits(bits_);
  if (bits_.size() < MAX_CONDITION_BITS && (value_ >> bits_.size()) != 0) {
    refuse_condition("condition value " + std::to_string(value_) + " does not fit in " +
                     std::to_string(bits_.size()) + (bits_.size() == 1 ? " bit" : " bits"));
  }
}

// ---------------------------------------------------------------- QuantumGate

// The attributes few records have, apart from the rest: measurements and blocks, the
// records that need an Extra most often, never have them, and keep their Extra small.
namespace {
struct ExtraRare {
  std::optional<Matrix> matrix;
  std::optional<Matrix> stored_matrix;
  std::optional<Condition> condition;
  GateBlock else_gate_sequence;
};
}  // namespace

struct QuantumGate::Extra {
  std::optional<IndexList> classical_target;
  GateBlock block_gate_sequence;
  std::optional<std::string> name;
  std::unique_ptr<ExtraRare> rare;

  Extra() = default;
  Extra(const Extra& other)
      : classical_target(other.classical_target),
        block_gate_sequence(other.block_gate_sequence),
        name(other.name),
        rare(other.rare ? std::make_unique<ExtraRare>(*other.rare) : nullptr) {}
  Extra& operator=(const Extra&) = delete;
  ~Extra();

  ExtraRare& ensure_rare() {
    if (!rare) rare = std::make_unique<ExtraRare>();
    return *rare;
  }

  [[nodiscard]] bool holds_blocks() const noexcept {
    return block_gate_sequence || (rare && rare->else_gate_sequence);
  }
  // Moves this record's nested blocks, its else-block too, onto `pending`.
  void move_blocks_to(std::vector<GateBlock>& pending) noexcept {
    if (block_gate_sequence) pending.push_back(std::move(block_gate_sequence));
    if (rare && rare->else_gate_sequence) pending.push_back(std::move(rare->else_gate_sequence));
  }
};

// Blocks may nest arbitrarily deep; releasing them recursively could exhaust the stack.
// Nested blocks that this record alone keeps alive are detached level by level instead.
QuantumGate::Extra::~Extra() {
  if (!holds_blocks()) return;
  std::vector<GateBlock> pending;
  move_blocks_to(pending);
  while (!pending.empty()) {
    GateBlock block = std::move(pending.back());
    pending.pop_back();
    if (block.use_count() != 1) continue;  // still shared: dropping our reference is shallow
    // Sole owner of a block that is about to be freed (blocks are created non-const by
    // make_block), so its records may be taken apart.
    auto& gates = const_cast<std::vector<QuantumGate>&>(*block);  // NOLINT
    for (QuantumGate& g : gates) {
      if (g.extra_ && g.extra_->holds_blocks()) g.extra_->move_blocks_to(pending);
    }
  }
}

namespace {
const std::optional<IndexList> NO_BITS;
const GateBlock NO_BLOCK;
const std::optional<std::string> NO_NAME;
const std::optional<Matrix> NO_MATRIX;
const std::optional<Condition> NO_CONDITION;
}  // namespace

QuantumGate::QuantumGate(const QuantumGate& other)
    : id(other.id),
      target(other.target),
      control(other.control),
      control_state(other.control_state),
      parameter(other.parameter),
      extra_(other.extra_ ? new Extra(*other.extra_) : nullptr) {}

void QuantumGate::ExtraDeleter::operator()(Extra* extra) const noexcept {
  delete extra;  // NOLINT(cppcoreguidelines-owning-memory)
}

QuantumGate& QuantumGate::operator=(const QuantumGate& other) {
  if (this != &other) *this = QuantumGate(other);
  return *this;
}

GateBlock make_block(std::vector<QuantumGate> gates) {
  return std::make_shared<std::vector<QuantumGate>>(std::move(gates));
}

QuantumGate::Extra& QuantumGate::extra() {
  if (!extra_) extra_.reset(new Extra());  // NOLINT(cppcoreguidelines-owning-memory)
  return *extra_;
}

const std::optional<IndexList>& QuantumGate::classical_target() const noexcept {
  return extra_ ? extra_->classical_target : NO_BITS;
}
void QuantumGate::set_classical_target(std::optional<IndexList> bits) {
  if (bits || extra_) extra().classical_target = std::move(bits);
}

const GateBlock& QuantumGate::block_gate_sequence() const noexcept {
  return extra_ ? extra_->block_gate_sequence : NO_BLOCK;
}
void QuantumGate::set_block_gate_sequence(GateBlock gates) {
  if (gates || extra_) extra().block_gate_sequence = std::move(gates);
}

const std::optional<std::string>& QuantumGate::name() const noexcept {
  return extra_ ? extra_->name : NO_NAME;
}
void QuantumGate::set_name(std::optional<std::string> display_name) {
  if (display_name || extra_) extra().name = std::move(display_name);
}

const std::optional<Matrix>& QuantumGate::matrix() const noexcept {
  return extra_ && extra_->rare ? extra_->rare->matrix : NO_MATRIX;
}
void QuantumGate::set_matrix(std::optional<Matrix> m) {
  if (m || (extra_ && extra_->rare)) extra().ensure_rare().matrix = std::move(m);
}

const std::optional<Matrix>& QuantumGate::stored_matrix() const noexcept {
  return extra_ && extra_->rare ? extra_->rare->stored_matrix : NO_MATRIX;
}
void QuantumGate::set_stored_matrix(std::optional<Matrix> m) {
  if (m || (extra_ && extra_->rare)) extra().ensure_rare().stored_matrix = std::move(m);
}

const std::optional<Condition>& QuantumGate::condition() const noexcept {
  return extra_ && extra_->rare ? extra_->rare->condition : NO_CONDITION;
}
void QuantumGate::set_condition(std::optional<Condition> tested) {
  if (tested || (extra_ && extra_->rare)) extra().ensure_rare().condition = std::move(tested);
}

const GateBlock& QuantumGate::else_gate_sequence() const noexcept {
  return extra_ && extra_->rare ? extra_->rare->else_gate_sequence : NO_BLOCK;
}
void QuantumGate::set_else_gate_sequence(GateBlock gates) {
  if (gates || (extra_ && extra_->rare))
    extra().ensure_rare().else_gate_sequence = std::move(gates);
}

namespace {

// Everything a record holds apart from its nested gates.
bool same_own_attributes(const QuantumGate& a, const QuantumGate& b) {
  return a.id == b.id && a.target == b.target && a.control == b.control &&
         a.control_state == b.control_state && a.parameter == b.parameter &&
         a.classical_target() == b.classical_target() && a.name() == b.name() &&
         a.matrix() == b.matrix() && a.stored_matrix() == b.stored_matrix() &&
         a.condition() == b.condition();
}

// Compares nested blocks the way the conversions walk them: as deep as the nesting bound
// (deeper raises RecursionError instead of exhausting the stack), and each pair of shared
// lists once, so that blocks calling shared blocks twice over are not compared
// exponentially often.
class BlockComparison {
 public:
  bool same(const GateBlock& a, const GateBlock& b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return same_gates(*a, *b);
  }

  bool same_bodies(const QuantumGate& a, const QuantumGate& b) {
    return same(a.block_gate_sequence(), b.block_gate_sequence()) &&
           same(a.else_gate_sequence(), b.else_gate_sequence());
  }

 private:
  using Pair = std::pair<const void*, const void*>;
  struct PairHash {
    std::size_t operator()(const Pair& p) const noexcept {
      return std::hash<const void*>{}(p.first) ^ (std::hash<const void*>{}(p.second) << 1U);
    }
  };

  bool same_gates(const std::vector<QuantumGate>& a, const std::vector<QuantumGate>& b) {
    if (a.size() != b.size()) return false;
    const Pair pair{&a, &b};
    if (found_equal_.contains(pair)) return true;
    const qasm3::detail::DepthGuard guard(depth_);
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!same_own_attributes(a[i], b[i]) || !same_bodies(a[i], b[i])) {
        return false;
      }
    }
    found_equal_.insert(pair);
    return true;
  }

  std::unordered_set<Pair, PairHash> found_equal_;
  int depth_ = 0;
};

}  // namespace

bool operator==(const QuantumGate& a, const QuantumGate& b) {
  if (!same_own_attributes(a, b)) return false;
  // Copies share their blocks, and most records have none: equal without a walk.
  if (a.block_gate_sequence() == b.block_gate_sequence() &&
      a.else_gate_sequence() == b.else_gate_sequence()) {
    return true;
  }
  return BlockComparison().same_bodies(a, b);
}

// ---------------------------------------------------------------- conditioned records

IndexList qubits_of_bodies(const GateBlock& body, const GateBlock& else_body) {
  std::vector<std::int64_t> qubits;
  for (const GateBlock* block : {&body, &else_body}) {
    if (!*block) continue;
    for (const QuantumGate& g : **block) {
      qubits.insert(qubits.end(), g.target.begin(), g.target.end());
      qubits.insert(qubits.end(), g.control.begin(), g.control.end());
    }
  }
  std::sort(qubits.begin(), qubits.end());
  qubits.erase(std::unique(qubits.begin(), qubits.end()), qubits.end());
  return IndexList(qubits.begin(), qubits.end());
}

QuantumGate make_conditioned(std::string id, Condition tested, GateBlock body,
                             GateBlock else_body) {
  QuantumGate gate(std::move(id), qubits_of_bodies(body, else_body));
  gate.set_condition(std::move(tested));
  gate.set_block_gate_sequence(std::move(body));
  gate.set_else_gate_sequence(std::move(else_body));
  check_conditioned(gate);
  return gate;
}

namespace {

std::string index_list_text(const IndexList& indices) {
  std::string out = "[";
  for (const std::int64_t index : indices) {
    if (out.size() > 1) out += ", ";
    out += std::to_string(index);
  }
  return out + "]";
}

}  // namespace

void check_conditioned(const QuantumGate& gate) {
  const bool has_else = gate.else_gate_sequence() != nullptr;
  if (!gate.condition()) {
    if (has_else) refuse_condition("an else_gate_sequence needs an 'if' record with a condition");
    return;
  }
  const std::string records = "'" + gate.id + "' records";
  if (gate.id != "if" && gate.id != "while") {
    refuse_condition("a condition belongs to 'if' and 'while' records, not to " + records);
  }
  if (has_else && gate.id != "if") refuse_condition(records + " have no else_gate_sequence");
  if (!gate.control.empty() || !gate.control_state.empty()) {
    refuse_condition(records + " cannot be controlled");
  }
  if (!gate.block_gate_sequence()) refuse_condition(records + " need a block_gate_sequence");
  const IndexList touched = qubits_of_bodies(gate.block_gate_sequence(), gate.else_gate_sequence());
  if (gate.target != touched) {
    refuse_condition("the target of a conditioned record lists the qubits its bodies act on, " +
                     index_list_text(touched) + ", not " + index_list_text(gate.target));
  }
}

}  // namespace corvane
