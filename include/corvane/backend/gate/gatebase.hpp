// The gate model: QuantumGate records, their parameters and matrices.
#pragma once

#include <algorithm>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace corvane {

// Dense row-major matrix of complex doubles. A matrix read from a higher-dimensional
// array keeps its entries in row-major order; only rows * cols == data.size() holds.
struct Matrix {
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::vector<std::complex<double>> data;

  Matrix() = default;
  Matrix(std::size_t r, std::size_t c) : rows(r), cols(c), data(r * c) {}
  Matrix(std::size_t r, std::size_t c, std::vector<std::complex<double>> entries);

  std::complex<double>& operator()(std::size_t r, std::size_t c) { return data[r * cols + c]; }
  const std::complex<double>& operator()(std::size_t r, std::size_t c) const {
    return data[r * cols + c];
  }
  friend bool operator==(const Matrix&, const Matrix&) = default;
};

// Qubit, bit and control-state lists. Almost every gate has one or two entries, so up
// to two are kept inline and only longer lists allocate.
class IndexList {
 public:
  using value_type = std::int64_t;
  using const_iterator = const std::int64_t*;

  IndexList() noexcept = default;
  IndexList(std::initializer_list<std::int64_t> values) { assign(values.begin(), values.size()); }
  template <class It>
  IndexList(It first, It last) {
    if constexpr (std::contiguous_iterator<It> &&
                  std::is_same_v<std::iter_value_t<It>, std::int64_t>) {
      assign(std::to_address(first), static_cast<std::size_t>(last - first));
    } else {
      for (; first != last; ++first)
        push_back(static_cast<std::int64_t>(*first));
    }
  }
  // Copies, moves and destruction of short lists (the common case) are inline.
  IndexList(const IndexList& other) {
    if (other.is_inline()) {
      copy_inline_from(other);
    } else {
      copy_from(other);
    }
  }
  IndexList(IndexList&& other) noexcept { take(other); }
  IndexList& operator=(const IndexList& other);
  IndexList& operator=(IndexList&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~IndexList() { release(); }

  void push_back(std::int64_t v) {
    if (size_ == capacity_) grow_to(std::size_t{capacity_} * 2);
    data()[size_++] = v;
  }
  void reserve(std::size_t n) {
    if (n > capacity_) grow_to(n);
  }
  void clear() noexcept { size_ = 0; }

  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] const std::int64_t* data() const noexcept { return is_inline() ? inline_ : heap_; }
  std::int64_t* data() noexcept { return is_inline() ? inline_ : heap_; }
  [[nodiscard]] const_iterator begin() const noexcept { return data(); }
  [[nodiscard]] const_iterator end() const noexcept { return data() + size_; }
  std::int64_t operator[](std::size_t i) const noexcept { return data()[i]; }
  std::int64_t& operator[](std::size_t i) noexcept { return data()[i]; }

  friend bool operator==(const IndexList& a, const IndexList& b) noexcept;

 private:
  static constexpr std::uint32_t INLINE_CAPACITY = 2;
  [[nodiscard]] bool is_inline() const noexcept { return capacity_ == INLINE_CAPACITY; }
  void grow_to(std::size_t n);
  void copy_from(const IndexList& other);
  // Sets the elements of an empty list to values[0, count).
  void assign(const std::int64_t* values, std::size_t count) {
    if (!is_inline() || count > INLINE_CAPACITY) {
      assign_to_heap(values, count);
      return;
    }
    for (std::size_t i = 0; i < count; ++i)
      inline_[i] = values[i];
    size_ = static_cast<std::uint32_t>(count);
  }
  void assign_to_heap(const std::int64_t* values, std::size_t count);
  void copy_inline_from(const IndexList& other) noexcept {
    std::memcpy(inline_, other.inline_, sizeof inline_);  // whatever the size, in one move
    size_ = other.size_;
  }
  // Takes over `other`'s elements and leaves it empty.
  void take(IndexList& other) noexcept {
    if (other.is_inline()) {
      copy_inline_from(other);
    } else {
      heap_ = other.heap_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      other.capacity_ = INLINE_CAPACITY;
    }
    other.size_ = 0;
  }
  void release() noexcept {
    if (!is_inline()) free_heap();
    capacity_ = INLINE_CAPACITY;
  }
  void free_heap() noexcept;

  union {
    std::int64_t inline_[INLINE_CAPACITY]{};  // copied whole, whatever the size
    std::int64_t* heap_;
  };
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = INLINE_CAPACITY;
};

// One entry of a parameter list.
using ParamScalar = std::variant<bool, std::int64_t, double, std::string>;

// An ordered list of parameter entries. `is_tuple` records whether the value was an
// immutable sequence (the importer's results) or a mutable list; both export alike.
struct ParamList {
  std::vector<ParamScalar> items;
  bool is_tuple = false;
  friend bool operator==(const ParamList&, const ParamList&) = default;
};

// Read access to the entries of a list parameter, wherever they are kept. A tuple of
// one to three floating-point numbers (what an imported call carries) lives in the view
// itself, so keep the view for as long as its entries are used.
class ParamListView {
 public:
  // Most numbers a view holds in itself.
  static constexpr std::size_t MAX_HELD = 3;

  explicit ParamListView(const ParamList& list) noexcept : list_(&list) {}
  // The tuple of numbers[0, count), count at most MAX_HELD.
  ParamListView(const double* numbers, std::size_t count) noexcept : held_size_(count) {
    for (std::size_t i = 0; i < count; ++i)
      held_[i].emplace<double>(numbers[i]);
  }

  [[nodiscard]] std::size_t size() const noexcept {
    return list_ ? list_->items.size() : held_size_;
  }
  [[nodiscard]] bool empty() const noexcept { return size() == 0; }
  [[nodiscard]] bool is_tuple() const noexcept { return list_ ? list_->is_tuple : true; }
  [[nodiscard]] const ParamScalar* begin() const noexcept {
    return list_ ? list_->items.data() : held_;
  }
  [[nodiscard]] const ParamScalar* end() const noexcept { return begin() + size(); }
  const ParamScalar& operator[](std::size_t i) const noexcept { return begin()[i]; }

  friend bool operator==(const ParamListView& a, const ParamListView& b) {
    return a.is_tuple() == b.is_tuple() && std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  const ParamList* list_ = nullptr;
  ParamScalar held_[MAX_HELD];
  std::size_t held_size_ = 0;
};

// The parameter of a gate. Every distinction the converter depends on is kept: absent
// vs. an empty list, bool vs. integer vs. double vs. text, list vs. numeric array.
// Heavy values are shared and immutable, so copies are cheap and records stay small.
class Parameter {
 public:
  enum class Kind : std::uint8_t { Absent, Bool, Integer, Double, Text, List, Array };

  Parameter() noexcept = default;
  Parameter(bool v) noexcept : value_(v) {}                // NOLINT(google-explicit-constructor)
  Parameter(std::int64_t v) noexcept : value_(v) {}        // NOLINT(google-explicit-constructor)
  Parameter(int v) noexcept : value_(std::int64_t{v}) {}   // NOLINT(google-explicit-constructor)
  Parameter(double v) noexcept : value_(v) {}              // NOLINT(google-explicit-constructor)
  Parameter(std::string v);                                // NOLINT(google-explicit-constructor)
  Parameter(const char* v) : Parameter(std::string(v)) {}  // NOLINT(google-explicit-constructor)
  Parameter(ParamList v);                                  // NOLINT(google-explicit-constructor)
  Parameter(Matrix v);                                     // NOLINT(google-explicit-constructor)

  // A list (or, with as_tuple, a tuple) of entries.
  static Parameter list(std::vector<ParamScalar> items, bool as_tuple = false);
  // The tuple of `numbers`: the same value as list of them as a tuple, built without one.
  static Parameter number_tuple(std::span<const double> numbers);
  // The tuple (only,).
  static Parameter one_number_tuple(double only) noexcept {
    return Parameter(NumberTuple<1>{{only}});
  }

  [[nodiscard]] Kind kind() const noexcept {
    const std::size_t index = value_.index();
    return index >= FIRST_NUMBER_TUPLE ? Kind::List : static_cast<Kind>(index);
  }
  [[nodiscard]] bool is_absent() const noexcept { return kind() == Kind::Absent; }
  [[nodiscard]] bool as_bool() const { return std::get<bool>(value_); }
  [[nodiscard]] std::int64_t as_integer() const { return std::get<std::int64_t>(value_); }
  [[nodiscard]] double as_double() const { return std::get<double>(value_); }
  [[nodiscard]] const std::string& as_text() const { return *std::get<TextPtr>(value_); }
  [[nodiscard]] ParamListView as_list() const {
    if (value_.index() >= FIRST_NUMBER_TUPLE) return held_numbers();
    return ParamListView(*std::get<ListPtr>(value_));
  }
  [[nodiscard]] const Matrix& as_array() const { return *std::get<ArrayPtr>(value_); }

  friend bool operator==(const Parameter& a, const Parameter& b);

 private:
  using TextPtr = std::shared_ptr<const std::string>;
  using ListPtr = std::shared_ptr<const ParamList>;
  using ArrayPtr = std::shared_ptr<const Matrix>;
  // A tuple of one to three floating-point numbers, kept in place: most parameterised
  // gates carry one angle or three, and a million of them would otherwise be a million
  // allocations. One type per count, so that the variant's index says it.
  template <std::size_t N>
  struct NumberTuple {
    double values[N];
  };
  template <std::size_t N>
  explicit Parameter(NumberTuple<N> numbers) noexcept : value_(numbers) {}
  [[nodiscard]] ParamListView held_numbers() const noexcept;

  // The alternatives up to ArrayPtr are in the order of Kind; the number tuples, in order
  // of their count, are Lists.
  static constexpr std::size_t FIRST_NUMBER_TUPLE = 7;
  std::variant<std::monostate, bool, std::int64_t, double, TextPtr, ListPtr, ArrayPtr,
               NumberTuple<1>, NumberTuple<2>, NumberTuple<3>>
      value_;
};

inline ParamListView Parameter::held_numbers() const noexcept {
  switch (value_.index() - FIRST_NUMBER_TUPLE) {
    case 0:
      return {std::get_if<NumberTuple<1>>(&value_)->values, 1};
    case 1:
      return {std::get_if<NumberTuple<2>>(&value_)->values, 2};
    default:
      return {std::get_if<NumberTuple<3>>(&value_)->values, 3};
  }
}

class QuantumGate;
// The nested gates of a block: immutable and shared, so calls of one imported
// definition can hold the same child records.
using GateBlock = std::shared_ptr<const std::vector<QuantumGate>>;
// Creates a block; use it rather than a shared const vector of your own, so that
// releasing deeply nested blocks can take them apart without recursion.
GateBlock make_block(std::vector<QuantumGate> gates);

// How a condition compares the value its bits hold with its own value.
enum class Comparison : std::uint8_t { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };

// "==", "!=", "<", "<=", ">" or ">=".
std::string_view comparison_text(Comparison compare) noexcept;
// The comparison written `text`; nothing for any other text.
std::optional<Comparison> comparison_from_text(std::string_view text) noexcept;

// The most bits one condition reads: the value they hold is an unsigned 64-bit integer.
inline constexpr std::size_t MAX_CONDITION_BITS = 64;

// What an "if" or "while" record tests: the unsigned integer its classical bits hold
// (numbered as classical_target numbers bits, the first the least significant) compared
// with a value.
class Condition {
 public:
  // Raises corvane::qasm3::ValueError for no bits, a negative or repeated bit, or a value
  // the bits cannot hold, and NotImplementedError for more than MAX_CONDITION_BITS bits.
  Condition(IndexList bits, Comparison compare, std::uint64_t value);

  [[nodiscard]] const IndexList& bits() const noexcept { return bits_; }
  [[nodiscard]] Comparison compare() const noexcept { return compare_; }
  [[nodiscard]] std::uint64_t value() const noexcept { return value_; }

  friend bool operator==(const Condition&, const Condition&) = default;

 private:
  IndexList bits_;
  Comparison compare_;
  std::uint64_t value_;
};

// One operation of a circuit. The attributes every gate has are plain members; the
// rarely used ones live in one out-of-line record so that a simple gate stays small.
//
// A record with id "if" and a condition runs its block when the condition holds and its
// else-block otherwise; one with id "while" and a condition runs its block while the
// condition holds. Their bodies use the sequence's own qubit and bit indices, and their
// target lists the qubits the bodies act on (qubits_of_bodies). A record without a
// condition is an ordinary record, whatever its id.
class QuantumGate {
 public:
  std::string id;
  IndexList target;
  IndexList control;
  IndexList control_state;
  Parameter parameter;

  QuantumGate() = default;
  QuantumGate(std::string gate_id, IndexList targets, IndexList controls = {},
              IndexList control_states = {}, Parameter param = {})
      : id(std::move(gate_id)),
        target(std::move(targets)),
        control(std::move(controls)),
        control_state(std::move(control_states)),
        parameter(std::move(param)) {}
  QuantumGate(const QuantumGate& other);
  // Moves and destruction are inline: sequences of millions of records do them in bulk.
  QuantumGate(QuantumGate&& other) noexcept = default;
  QuantumGate& operator=(const QuantumGate& other);
  QuantumGate& operator=(QuantumGate&& other) noexcept = default;
  ~QuantumGate() = default;

  // Classical bits written by a measurement; absent for other gates.
  [[nodiscard]] const std::optional<IndexList>& classical_target() const noexcept;
  void set_classical_target(std::optional<IndexList> bits);

  // Nested gates of a "block" record; null when absent (an empty block is present).
  [[nodiscard]] const GateBlock& block_gate_sequence() const noexcept;
  void set_block_gate_sequence(GateBlock gates);

  // Display name.
  [[nodiscard]] const std::optional<std::string>& name() const noexcept;
  void set_name(std::optional<std::string> display_name);

  // The gate's matrix as given at construction.
  [[nodiscard]] const std::optional<Matrix>& matrix() const noexcept;
  void set_matrix(std::optional<Matrix> m);

  // What an "if" or "while" record tests; absent for every other record.
  [[nodiscard]] const std::optional<Condition>& condition() const noexcept;
  void set_condition(std::optional<Condition> tested);

  // The records an "if" record runs when its condition fails; null when absent.
  [[nodiscard]] const GateBlock& else_gate_sequence() const noexcept;
  void set_else_gate_sequence(GateBlock gates);

  // The explicit matrix of a "unitary" record.
  [[nodiscard]] bool has_stored_matrix() const noexcept { return stored_matrix().has_value(); }
  [[nodiscard]] const std::optional<Matrix>& stored_matrix() const noexcept;
  void set_stored_matrix(std::optional<Matrix> m);

  // Equal attributes, nested blocks (else-blocks too) compared by content. Blocks nested deeper
  // than 1000 levels raise corvane::qasm3::RecursionError, as in the conversions.
  friend bool operator==(const QuantumGate& a, const QuantumGate& b);

 private:
  struct Extra;
  // Defined where Extra is, so that records can be moved and destroyed inline.
  struct ExtraDeleter {
    void operator()(Extra* extra) const noexcept;
  };
  Extra& extra();
  std::unique_ptr<Extra, ExtraDeleter> extra_;
};

// The qubits the records of `body` and `else_body` (either may be null) act on, targets
// and controls, ascending and each once: the target of a conditioned record.
IndexList qubits_of_bodies(const GateBlock& body, const GateBlock& else_body = nullptr);

// The record `id` ("if" or "while") testing `tested`, its target the qubits its bodies act
// on. Raises what check_conditioned raises.
QuantumGate make_conditioned(std::string id, Condition tested, GateBlock body,
                             GateBlock else_body = nullptr);

// Checks a record that has a condition or an else-block (any other passes): only "if" and
// "while" records have a condition and only "if" records with one an else-block; they
// have a block and no controls, and their target is qubits_of_bodies of their bodies.
// Raises corvane::qasm3::ValueError naming the rule broken.
void check_conditioned(const QuantumGate& gate);

}  // namespace corvane
