#include "corvane/backend/gate/gatebase.hpp"

#include <algorithm>
#include <functional>
#include <stdexcept>
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
Parameter::Parameter(ParamList v) {
  static_assert(std::is_same_v<std::variant_alternative_t<ONE_NUMBER_TUPLE, decltype(value_)>,
                               OneNumberTuple>);
  if (v.is_tuple && v.items.size() == 1 && std::holds_alternative<double>(v.items[0])) {
    *this = one_number_tuple(std::get<double>(v.items[0]));
  } else {
    value_ = std::make_shared<const ParamList>(std::move(v));
  }
}
Parameter::Parameter(Matrix v) : value_(std::make_shared<const Matrix>(std::move(v))) {}

Parameter Parameter::list(std::vector<ParamScalar> items, bool as_tuple) {
  return Parameter(ParamList{std::move(items), as_tuple});
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

// The matrices, apart from the rest: measurements and blocks, the records that need an
// Extra most often, never have one, and keep their Extra half the size without them.
namespace {
struct ExtraMatrices {
  std::optional<Matrix> matrix;
  std::optional<Matrix> stored_matrix;
};
}  // namespace

struct QuantumGate::Extra {
  std::optional<IndexList> classical_target;
  GateBlock block_gate_sequence;
  std::optional<std::string> name;
  std::unique_ptr<ExtraMatrices> matrices;

  Extra() = default;
  Extra(const Extra& other)
      : classical_target(other.classical_target),
        block_gate_sequence(other.block_gate_sequence),
        name(other.name),
        matrices(other.matrices ? std::make_unique<ExtraMatrices>(*other.matrices) : nullptr) {}
  Extra& operator=(const Extra&) = delete;
  ~Extra();

  ExtraMatrices& ensure_matrices() {
    if (!matrices) matrices = std::make_unique<ExtraMatrices>();
    return *matrices;
  }
};

// Blocks may nest arbitrarily deep; releasing them recursively could exhaust the stack.
// Nested blocks that this record alone keeps alive are detached level by level instead.
QuantumGate::Extra::~Extra() {
  if (!block_gate_sequence) return;
  std::vector<GateBlock> pending;
  pending.push_back(std::move(block_gate_sequence));
  while (!pending.empty()) {
    GateBlock block = std::move(pending.back());
    pending.pop_back();
    if (block.use_count() != 1) continue;  // still shared: dropping our reference is shallow
    // Sole owner of a block that is about to be freed (blocks are created non-const by
    // make_block), so its records may be taken apart.
    auto& gates = const_cast<std::vector<QuantumGate>&>(*block);  // NOLINT
    for (QuantumGate& g : gates) {
      if (g.extra_ && g.extra_->block_gate_sequence) {
        pending.push_back(std::move(g.extra_->block_gate_sequence));
      }
    }
  }
}

namespace {
const std::optional<IndexList> NO_BITS;
const GateBlock NO_BLOCK;
const std::optional<std::string> NO_NAME;
const std::optional<Matrix> NO_MATRIX;
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
  return extra_ && extra_->matrices ? extra_->matrices->matrix : NO_MATRIX;
}
void QuantumGate::set_matrix(std::optional<Matrix> m) {
  if (m || (extra_ && extra_->matrices)) extra().ensure_matrices().matrix = std::move(m);
}

const std::optional<Matrix>& QuantumGate::stored_matrix() const noexcept {
  return extra_ && extra_->matrices ? extra_->matrices->stored_matrix : NO_MATRIX;
}
void QuantumGate::set_stored_matrix(std::optional<Matrix> m) {
  if (m || (extra_ && extra_->matrices)) extra().ensure_matrices().stored_matrix = std::move(m);
}

namespace {

// Everything a record holds apart from its nested gates.
bool same_own_attributes(const QuantumGate& a, const QuantumGate& b) {
  return a.id == b.id && a.target == b.target && a.control == b.control &&
         a.control_state == b.control_state && a.parameter == b.parameter &&
         a.classical_target() == b.classical_target() && a.name() == b.name() &&
         a.matrix() == b.matrix() && a.stored_matrix() == b.stored_matrix();
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
      if (!same_own_attributes(a[i], b[i]) ||
          !same(a[i].block_gate_sequence(), b[i].block_gate_sequence())) {
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
  const GateBlock& a_block = a.block_gate_sequence();
  const GateBlock& b_block = b.block_gate_sequence();
  if (a_block == b_block) return true;  // also where neither has one
  return BlockComparison().same(a_block, b_block);
}

}  // namespace corvane
