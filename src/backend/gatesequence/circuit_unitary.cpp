#include "corvane/backend/gatesequence/circuit_unitary.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "common/depth_guard.hpp"
#include "corvane/backend/pygates/unitary.hpp"
#include "corvane/backend/qasm/qasm3_errors.hpp"
#include "pygates/angles.hpp"

namespace corvane {

namespace {

using Complex = std::complex<double>;

// ------------------------------------------------------------------ messages

[[noreturn]] void refuse(const std::string& reason) {
  throw qasm3::ValueError("circuit_unitary: " + reason);
}

std::string gate_named(std::string_view id) {
  std::string out = "gate '";
  out += id;
  out += '\'';
  return out;
}

// "1 target", "2 targets".
std::string count_of(std::int64_t n, std::string_view noun) {
  std::string out = std::to_string(n) + ' ';
  out += noun;
  if (n != 1) out += 's';
  return out;
}

// ------------------------------------------------------------------ what an id means

enum class Kind : std::uint8_t {
  OnEachTarget,  // a one-qubit matrix on every target in turn, under all controls
  Controlled,    // a one-qubit base gate on the one target, under at least one control
  SwapPairs,     // the exchange of each pair of targets
  Rzz,           // exp(-i θ/2 Z⊗Z) on two targets
  MinusZ,        // -Z on every target
  GlobalPhase,   // e^{iγ} where the controls hold
  Explicit,      // "unitary": the record's own matrix
  Block,
  Measure,
  FromGateSet,  // gate_set()'s matrix of the id itself
};

struct Meaning {
  std::string_view id;
  Kind kind;
  std::string_view base;  // the gate_set() id of the matrix applied
};

// The ids whose matrix is not gate_set()'s entry of the id itself. The exporter writes
// a record in OpenQASM terms and the importer reads the text back into model ids; every
// row here means what that text means under gate_set()'s matrices.
constexpr std::array<Meaning, 32> MEANINGS{{
    // OpenQASM names that the exporter writes unchanged and the importer reads as model ids.
    {"sdg", Kind::OnEachTarget, "s_dag"},
    {"tdg", Kind::OnEachTarget, "t_dag"},
    {"id", Kind::OnEachTarget, "i"},
    {"sx", Kind::OnEachTarget, "sqrtx"},
    {"phase", Kind::OnEachTarget, "p"},
    {"U", Kind::OnEachTarget, "u"},
    // Controlled ids: their controls are the record's, gate_set()'s two-qubit matrices of
    // "cx" and the like describe the same gate on (control, target).
    {"cx", Kind::Controlled, "x"},
    {"cnot", Kind::Controlled, "x"},
    {"mcx", Kind::Controlled, "x"},
    {"cy", Kind::Controlled, "y"},
    {"mcy", Kind::Controlled, "y"},
    {"cz", Kind::Controlled, "z"},
    {"mcz", Kind::Controlled, "z"},
    {"ch", Kind::Controlled, "h"},
    {"mch", Kind::Controlled, "h"},
    {"cs", Kind::Controlled, "s"},
    {"cp", Kind::Controlled, "p"},
    {"mcp", Kind::Controlled, "p"},
    {"crx", Kind::Controlled, "rx"},
    {"mcrx", Kind::Controlled, "rx"},
    {"cry", Kind::Controlled, "ry"},
    {"mcry", Kind::Controlled, "ry"},
    {"crz", Kind::Controlled, "rz"},
    {"mcrz", Kind::Controlled, "rz"},
    {"swap", Kind::SwapPairs, "swap"},
    // Written as cx, rz, cx on its two targets.
    {"rzz", Kind::Rzz, "rz"},
    // Written as a phase of π and z, per target.
    {"-z", Kind::MinusZ, "z"},
    {"gp", Kind::GlobalPhase, ""},
    {"global_phase", Kind::GlobalPhase, ""},
    {"unitary", Kind::Explicit, ""},
    {"block", Kind::Block, ""},
    {"measure", Kind::Measure, ""},
}};

Meaning meaning_of(std::string_view id) {
  for (const Meaning& m : MEANINGS) {
    if (m.id == id) return m;
  }
  return {id, Kind::FromGateSet, id};
}

// ------------------------------------------------------------------ parameters

// A text parameter that holds a number, read as one: the exporter writes text as it is,
// so "0.5" reads back as the number. Anything else (an expression, a name) is refused.
std::optional<double> number_in_text(std::string_view text) {
  constexpr std::string_view BLANKS = " \t\n\r\f\v";
  const std::size_t first = text.find_first_not_of(BLANKS);
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(BLANKS) + 1 - first);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

double text_angle(const std::string& text, std::string_view id) {
  if (const std::optional<double> value = number_in_text(text)) return *value;
  refuse("parameter '" + text + "' of " + gate_named(id) + " is not a number");
}

// The parameter in the forms gate_set()'s matrix functions take: numbers in text read,
// and a 1x1 real array (written as its number by the exporter) as that number.
Parameter numeric_parameter(const Parameter& parameter, std::string_view id) {
  switch (parameter.kind()) {
    case Parameter::Kind::Text:
      return text_angle(parameter.as_text(), id);
    case Parameter::Kind::List: {
      const ParamListView items = parameter.as_list();
      const auto is_text = [](const ParamScalar& e) {
        return std::holds_alternative<std::string>(e);
      };
      if (std::none_of(items.begin(), items.end(), is_text)) return parameter;
      std::vector<ParamScalar> numbers(items.begin(), items.end());
      for (ParamScalar& entry : numbers) {
        if (const auto* text = std::get_if<std::string>(&entry)) entry = text_angle(*text, id);
      }
      return Parameter::list(std::move(numbers), items.is_tuple());
    }
    case Parameter::Kind::Array: {
      const Matrix& m = parameter.as_array();
      if (m.data.size() == 1 && m.data[0].imag() == 0.0) return m.data[0].real();
      return parameter;
    }
    default:
      return parameter;
  }
}

// The one angle of a phase or an "rzz": a number, or a list of one number.
double one_angle(const Parameter& raw, std::string_view id) {
  if (const auto angle = detail::one_angle(numeric_parameter(raw, id))) return *angle;
  refuse(gate_named(id) + " needs one angle (a number, or a list of one number)");
}

// gate_set()'s matrix of `base` for the record's parameter.
Matrix gate_set_matrix(std::string_view base, const QuantumGate& g) {
  const GateMatrixEntry* entry = gate_set().get(base);
  if (entry == nullptr) refuse("no matrix for " + gate_named(g.id));
  if (!entry->is_function()) return *entry->fixed;
  const Parameter parameter = numeric_parameter(g.parameter, g.id);
  try {
    return entry->of_parameter(parameter);
  } catch (const std::invalid_argument& e) {
    refuse(e.what());
  }
}

Matrix rzz_matrix(double theta) {
  const Complex same = std::polar(1.0, -theta / 2);
  const Complex differ = std::polar(1.0, theta / 2);
  Matrix m(4, 4);
  m(0, 0) = same;
  m(1, 1) = differ;
  m(2, 2) = differ;
  m(3, 3) = same;
  return m;
}

// ------------------------------------------------------------------ the matrix

// The rows an operation acts on: those whose control bits equal the control states.
struct RowCondition {
  std::uint64_t mask = 0;
  std::uint64_t value = 0;
};

// Without the checks for infinite and NaN operands of std::complex's product, which
// keep the column loops from being vectorised.
inline Complex mul(Complex a, Complex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// The unitary built so far. Each gate multiplies it from the left: every column is a
// state, and a gate mixes the rows that differ only in its target bits, so it is applied
// to whole rows at once and no matrix of the full size other than the result is made.
class UnitaryBuilder {
 public:
  explicit UnitaryBuilder(int qubits) : dim_(std::size_t{1} << qubits), u_(dim_, dim_) {
    for (std::size_t i = 0; i < dim_; ++i)
      u_(i, i) = 1.0;
  }

  // `m` (2^k x 2^k) on the k `targets`, the first target the most significant bit of
  // m's index, on the rows where `when` holds.
  void apply(const Matrix& m, std::span<const int> targets, RowCondition when) {
    if (targets.size() == 1) return apply_one(m, targets[0], when);
    const std::size_t size = std::size_t{1} << targets.size();
    std::vector<std::uint64_t> offsets(size, 0);
    std::uint64_t target_mask = 0;
    for (std::size_t t = 0; t < targets.size(); ++t) {
      const std::uint64_t bit = std::uint64_t{1} << targets[t];
      target_mask |= bit;
      const std::size_t local_bit = std::size_t{1} << (targets.size() - 1 - t);
      for (std::size_t j = 0; j < size; ++j) {
        if ((j & local_bit) != 0) offsets[j] |= bit;
      }
    }
    // The group's rows are read a tile of columns at a time, so the copy stays in cache.
    std::vector<Complex> tile(size * TILE);
    for_each_group(when, target_mask, [&](std::uint64_t base) {
      for (std::size_t col = 0; col < dim_; col += TILE) {
        const std::size_t width = std::min(TILE, dim_ - col);
        for (std::size_t j = 0; j < size; ++j)
          std::copy_n(row(base | offsets[j]) + col, width, tile.data() + j * TILE);
        for (std::size_t r = 0; r < size; ++r) {
          Complex* out = row(base | offsets[r]) + col;
          std::fill_n(out, width, Complex());
          for (std::size_t j = 0; j < size; ++j) {
            const Complex coefficient = m(r, j);
            if (coefficient == Complex()) continue;
            const Complex* in = tile.data() + j * TILE;
            for (std::size_t c = 0; c < width; ++c)
              out[c] += mul(coefficient, in[c]);
          }
        }
      }
    });
  }

  // A one-qubit `m` mixes the pairs of rows that differ in the target bit.
  void apply_one(const Matrix& m, int target, RowCondition when) {
    const std::uint64_t bit = std::uint64_t{1} << target;
    const Complex a = m(0, 0);
    const Complex b = m(0, 1);
    const Complex c = m(1, 0);
    const Complex d = m(1, 1);
    for_each_group(when, bit, [&](std::uint64_t base) {
      Complex* zero = row(base);
      Complex* one = row(base | bit);
      for (std::size_t col = 0; col < dim_; ++col) {
        const Complex x = zero[col];
        const Complex y = one[col];
        zero[col] = mul(a, x) + mul(b, y);
        one[col] = mul(c, x) + mul(d, y);
      }
    });
  }

  void phase(Complex factor, RowCondition when) {
    for_each_group(when, 0, [&](std::uint64_t i) {
      Complex* r = row(i);
      for (std::size_t col = 0; col < dim_; ++col)
        r[col] = mul(factor, r[col]);
    });
  }

  Matrix take() && { return std::move(u_); }

 private:
  static constexpr std::size_t TILE = 64;

  Complex* row(std::uint64_t i) { return u_.data.data() + i * dim_; }

  // Calls f with every row index that meets `when` and has the target bits clear.
  template <class F>
  void for_each_group(RowCondition when, std::uint64_t target_mask, F&& f) {
    const std::uint64_t fixed = when.mask | target_mask;
    for (std::uint64_t i = 0; i < dim_; ++i) {
      if ((i & fixed) == when.value) f(i);
    }
  }

  std::size_t dim_;
  Matrix u_;
};

// ------------------------------------------------------------------ the records

// Where records are read: at the top level indices are circuit qubits; inside a block,
// local qubit i is the block's i-th target, and the block's controls hold for every record.
struct Scope {
  const std::vector<int>* block_qubits = nullptr;  // null at the top level
  RowCondition inherited;
};

class CircuitWalker {
 public:
  CircuitWalker(UnitaryBuilder& builder, int qubits) : builder_(builder), qubits_(qubits) {}

  void run(const std::vector<QuantumGate>& gates, const Scope& scope) {
    for (const QuantumGate& g : gates)
      record(g, scope);
  }

 private:
  void record(const QuantumGate& g, const Scope& scope) {
    // What such a record does depends on bits measured when the circuit runs.
    if (g.condition()) refuse(gate_named(g.id) + " is conditioned on measured bits: no unitary");
    const Meaning meaning = meaning_of(g.id);
    if (meaning.kind == Kind::Measure) return measurement(g, scope);
    if (measured_ && meaning.kind != Kind::Block) {
      refuse(gate_named(g.id) + " follows a measurement; only measurements may come after one");
    }
    const RowCondition when = controls_of(g, scope);
    std::vector<int> targets;
    targets.reserve(g.target.size());
    for (const std::int64_t t : g.target)
      targets.push_back(qubit_of(t, g, scope));

    // A gate on each target with no targets does nothing, whatever its parameter: the
    // exporter writes no statement for it.
    const bool on_each = meaning.kind == Kind::OnEachTarget || meaning.kind == Kind::MinusZ ||
                         meaning.kind == Kind::FromGateSet;
    if (on_each && targets.empty()) return;
    act(meaning, g, targets, when);
  }

  // Applies the record, its qubits and controls resolved.
  void act(const Meaning& meaning, const QuantumGate& g, const std::vector<int>& targets,
           RowCondition when) {
    switch (meaning.kind) {
      case Kind::OnEachTarget:
        return on_each_target(gate_set_matrix(meaning.base, g), g, targets, when);
      case Kind::FromGateSet:
        return from_gate_set(gate_set_matrix(meaning.base, g), g, targets, when);
      case Kind::Controlled:
        if (when.mask == 0 || targets.size() != 1) {
          refuse(gate_named(g.id) + " needs at least one control and exactly one target");
        }
        return on_each_target(gate_set_matrix(meaning.base, g), g, targets, when);
      case Kind::SwapPairs:
        return swap_pairs(g, targets, when);
      case Kind::Rzz:
        if (targets.size() != 2) {
          refuse(gate_named(g.id) + " needs exactly two targets, got " +
                 std::to_string(targets.size()));
        }
        return on_targets(rzz_matrix(one_angle(g.parameter, g.id)), g, targets, when);
      case Kind::MinusZ: {
        Matrix minus_z = gate_set_matrix(meaning.base, g);
        for (Complex& entry : minus_z.data)
          entry = -entry;
        return on_each_target(minus_z, g, targets, when);
      }
      case Kind::GlobalPhase:
        // Its targets are no operands: the exporter writes only its controls.
        return builder_.phase(std::polar(1.0, one_angle(g.parameter, g.id)), when);
      case Kind::Explicit:
        return explicit_matrix(g, targets, when);
      case Kind::Block:
        return block(g, targets, when);
      case Kind::Measure:
        return;
    }
  }

  void measurement(const QuantumGate& g, const Scope& scope) {
    if (!g.control.empty() || scope.inherited.mask != 0) {
      refuse("a measurement cannot be controlled");
    }
    for (const std::int64_t t : g.target)
      static_cast<void>(qubit_of(t, g, scope));  // checked, though nothing acts on it
    measured_ = true;
  }

  // The circuit qubit of a record's index in `scope`.
  [[nodiscard]] int qubit_of(std::int64_t idx, const QuantumGate& g, const Scope& scope) const {
    if (scope.block_qubits == nullptr) {
      if (idx < 0 || idx >= qubits_) {
        refuse(gate_named(g.id) + " acts on qubit " + std::to_string(idx) +
               ", but the sequence has " + count_of(qubits_, "qubit"));
      }
      return static_cast<int>(idx);
    }
    const auto arity = static_cast<std::int64_t>(scope.block_qubits->size());
    if (idx < 0 || idx >= arity) {
      refuse(gate_named(g.id) + " in a block uses local qubit " + std::to_string(idx) +
             ", but the block has " + count_of(arity, "target"));
    }
    return (*scope.block_qubits)[static_cast<std::size_t>(idx)];
  }

  // The inherited controls and the record's own, as one condition on the rows.
  RowCondition controls_of(const QuantumGate& g, const Scope& scope) const {
    if (g.control_state.size() != g.control.size()) {
      refuse(gate_named(g.id) + " has " +
             count_of(static_cast<std::int64_t>(g.control.size()), "control") + " but " +
             count_of(static_cast<std::int64_t>(g.control_state.size()), "control state"));
    }
    RowCondition when = scope.inherited;
    for (std::size_t k = 0; k < g.control.size(); ++k) {
      const int q = qubit_of(g.control[k], g, scope);
      const std::uint64_t bit = std::uint64_t{1} << q;
      if ((when.mask & bit) != 0) refuse_reuse(g, q);
      when.mask |= bit;
      if (g.control_state[k] == 1) when.value |= bit;
    }
    return when;
  }

  [[noreturn]] static void refuse_reuse(const QuantumGate& g, int q) {
    refuse(gate_named(g.id) + " uses qubit " + std::to_string(q) + " more than once");
  }

  // An operation's qubits must differ from each other and from its controls.
  static void require_apart(const QuantumGate& g, std::span<const int> qubits, RowCondition when) {
    std::uint64_t used = when.mask;
    for (const int q : qubits) {
      const std::uint64_t bit = std::uint64_t{1} << q;
      if ((used & bit) != 0) refuse_reuse(g, q);
      used |= bit;
    }
  }

  void on_each_target(const Matrix& m, const QuantumGate& g, std::span<const int> targets,
                      RowCondition when) {
    for (const int t : targets) {
      require_apart(g, {&t, 1}, when);
      builder_.apply_one(m, t, when);
    }
  }

  void on_targets(const Matrix& m, const QuantumGate& g, std::span<const int> targets,
                  RowCondition when) {
    require_apart(g, targets, when);  // so there are at most as many as qubits
    const std::size_t dim = std::size_t{1} << targets.size();
    if (m.rows != dim || m.cols != dim) {
      refuse(gate_named(g.id) + " has a " + std::to_string(m.rows) + "x" + std::to_string(m.cols) +
             " matrix for " + count_of(static_cast<std::int64_t>(targets.size()), "target"));
    }
    builder_.apply(m, targets, when);
  }

  // A one-qubit matrix acts on each target, a larger one on all of them together.
  void from_gate_set(const Matrix& m, const QuantumGate& g, std::span<const int> targets,
                     RowCondition when) {
    if (m.rows == 2 && m.cols == 2) return on_each_target(m, g, targets, when);
    on_targets(m, g, targets, when);
  }

  void swap_pairs(const QuantumGate& g, std::span<const int> targets, RowCondition when) {
    if (targets.size() % 2 != 0) {
      refuse(gate_named(g.id) + " needs an even number of targets, got " +
             std::to_string(targets.size()));
    }
    const Matrix m = gate_set_matrix("swap", g);
    for (std::size_t k = 0; k < targets.size(); k += 2)
      on_targets(m, g, targets.subspan(k, 2), when);
  }

  void explicit_matrix(const QuantumGate& g, std::span<const int> targets, RowCondition when) {
    // The stored matrix is what the exporter writes; the importer gives its decoded
    // matrix as the record's matrix.
    const std::optional<Matrix>& m = g.has_stored_matrix() ? g.stored_matrix() : g.matrix();
    if (!m) refuse("no matrix for " + gate_named(g.id));
    on_targets(*m, g, targets, when);
  }

  void block(const QuantumGate& g, const std::vector<int>& targets, RowCondition when) {
    const GateBlock& children = g.block_gate_sequence();
    if (!children) return;  // a block without its gates does nothing
    const qasm3::detail::DepthGuard guard(depth_);
    run(*children, Scope{&targets, when});
  }

  UnitaryBuilder& builder_;
  int qubits_;
  bool measured_ = false;
  int depth_ = 0;
};

}  // namespace

Matrix circuit_unitary(const GateSequence& gs) {
  const std::int64_t n = gs.num_qubits;
  if (n < 0) refuse("the qubit count must not be negative, got " + std::to_string(n));
  if (n > CIRCUIT_UNITARY_MAX_QUBITS) {
    throw qasm3::ValueError("circuit_unitary supports at most " +
                            std::to_string(CIRCUIT_UNITARY_MAX_QUBITS) + " qubits, got " +
                            std::to_string(n));
  }
  UnitaryBuilder builder(static_cast<int>(n));
  CircuitWalker(builder, static_cast<int>(n)).run(gs.data(), Scope{});
  return std::move(builder).take();
}

}  // namespace corvane
