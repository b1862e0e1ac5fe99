// A reproducible, realistic mix of gate records for the throughput benchmarks: mostly
// one-qubit gates with and without parameters and cx, then controlled rotations,
// multi-controlled x, swaps, measurements, a few global phases, non-standard gates and
// small nested blocks (some controlled, some reusing the same body).
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::bench {

class GateMix {
 public:
  explicit GateMix(std::int64_t num_qubits, std::uint64_t seed)
      : qubits_(num_qubits), state_(seed) {}

  // One gate record of the mix.
  QuantumGate next() {
    const std::uint64_t roll = below(1000);
    if (roll < 330) return QuantumGate(pick(kPlainOneQubit), {qubit()});
    if (roll < 530) return QuantumGate(pick(kRotations), {qubit()}, {}, {}, angle());
    if (roll < 710) return controlled("cnot", {}, 1);
    if (roll < 750) return controlled(pick(kControlledPlain), {}, 1);
    if (roll < 810) return controlled(pick(kControlledRotations), angle(), 1);
    if (roll < 830) return controlled("mcrz", angle(), 2);
    if (roll < 860) return controlled("mcx", {}, below(4) == 0 ? 3 : 2);
    if (roll < 890) return swap();
    if (roll < 910) {
      return QuantumGate("u", {qubit()}, {}, {}, Parameter::list({angle(), angle(), angle()}));
    }
    if (roll < 960) return measure();
    if (roll < 965) return QuantumGate("gp", {}, {}, {}, angle());
    if (roll < 967) return QuantumGate(pick(kNonStandard), {qubit()});
    return block();
  }

  [[nodiscard]] std::int64_t num_qubits() const noexcept { return qubits_; }

 private:
  static constexpr std::array<const char*, 9> kPlainOneQubit{"h", "x",     "y",     "z",    "s",
                                                             "t", "s_dag", "t_dag", "sqrtx"};
  static constexpr std::array<const char*, 4> kRotations{"rx", "ry", "rz", "p"};
  static constexpr std::array<const char*, 3> kControlledPlain{"cz", "ch", "cy"};
  static constexpr std::array<const char*, 4> kControlledRotations{"crz", "crx", "cry", "cp"};
  static constexpr std::array<const char*, 2> kNonStandard{"sqrty", "sqrtx_dag"};

  std::uint64_t random() noexcept {  // splitmix64: the same numbers on every platform
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31U);
  }
  std::uint64_t below(std::uint64_t n) noexcept { return random() % n; }
  template <std::size_t N>
  std::string pick(const std::array<const char*, N>& names) {
    return names[below(N)];
  }
  std::int64_t qubit() noexcept {
    return static_cast<std::int64_t>(below(static_cast<std::uint64_t>(qubits_)));
  }
  // Angles with full double precision, as circuits from optimisers carry them.
  double angle() noexcept {
    return static_cast<double>(random() >> 11U) * 0x1p-53 * 6.283185307179586 - 3.14159;
  }

  // `count` distinct qubits.
  IndexList distinct(std::size_t count) {
    IndexList picked;
    while (picked.size() < count) {
      const std::int64_t q = qubit();
      bool seen = false;
      for (const std::int64_t p : picked)
        seen = seen || p == q;
      if (!seen) picked.push_back(q);
    }
    return picked;
  }

  QuantumGate controlled(std::string id, Parameter param, std::size_t controls) {
    const IndexList qubits = distinct(controls + 1);
    IndexList ctrl(qubits.begin(), qubits.end() - 1);
    IndexList states;
    for (std::size_t i = 0; i < controls; ++i)
      states.push_back(below(8) == 0 ? 0 : 1);
    return QuantumGate(std::move(id), {qubits[controls]}, std::move(ctrl), std::move(states),
                       std::move(param));
  }

  QuantumGate swap() {
    const IndexList qubits = distinct(2);
    return QuantumGate("swap", qubits);
  }

  QuantumGate measure() {
    const std::int64_t q = qubit();
    QuantumGate m("measure", {q});
    m.set_classical_target(IndexList{q});
    return m;
  }

  // A two- or three-qubit block of a few gates on its own arguments; one in four is
  // controlled, and the bodies repeat, so definitions are both created and shared.
  QuantumGate block() {
    const std::size_t arity = 2 + below(2);
    const std::uint64_t shape = below(4);
    std::vector<QuantumGate> body;
    body.emplace_back("h", IndexList{0});
    body.emplace_back("cnot", IndexList{1}, IndexList{0}, IndexList{1});
    if (shape & 1U) body.emplace_back("rz", IndexList{1}, IndexList{}, IndexList{}, 0.25);
    if (arity == 3) body.emplace_back("mcx", IndexList{2}, IndexList{0, 1}, IndexList{1, 1});
    if (shape & 2U) body.emplace_back("cnot", IndexList{0}, IndexList{1}, IndexList{1});
    const IndexList qubits = distinct(arity + 1);
    IndexList targets(qubits.begin(), qubits.begin() + static_cast<std::ptrdiff_t>(arity));
    IndexList ctrl;
    IndexList states;
    if (below(4) == 0) {
      ctrl.push_back(qubits[arity]);
      states.push_back(1);
    }
    QuantumGate b("block", std::move(targets), std::move(ctrl), std::move(states));
    b.set_block_gate_sequence(make_block(std::move(body)));
    return b;
  }

  std::int64_t qubits_;
  std::uint64_t state_;
};

// A sequence of `gate_count` records of the mix over `num_qubits` qubits.
inline GateSequence make_gate_mix(std::size_t gate_count, std::int64_t num_qubits = 64,
                                  std::uint64_t seed = 20240611) {
  GateMix mix(num_qubits, seed);
  GateSequence gs(num_qubits);
  gs.reserve(gate_count);
  for (std::size_t i = 0; i < gate_count; ++i)
    gs.add_gate(mix.next());
  return gs;
}

// An OpenQASM 2 program of `gate_count` calls of qelib1.inc's u3, u1, cx, h, t and rz
// over `num_qubits` qubits, as circuit tools write them: the language path's benchmark,
// whose every statement lowering reads and rewrites. Angles have full double precision.
inline std::string qelib1_mix_program(std::size_t gate_count, std::int64_t num_qubits = 64,
                                      std::uint64_t seed = 20261206) {
  std::uint64_t state = seed;
  const auto random = [&state] {  // splitmix64, as GateMix
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31U);
  };
  const auto qubits = static_cast<std::uint64_t>(num_qubits);
  const auto qubit = [&](std::string& out) {
    out += "q[" + std::to_string(random() % qubits) + "]";
  };
  const auto angle = [&](std::string& out) {
    std::array<char, 32> text{};
    const double value =
        static_cast<double>(random() >> 11U) * 0x1p-53 * 6.283185307179586 - 3.14159;
    out.append(text.data(), std::to_chars(text.data(), text.data() + text.size(), value).ptr);
  };
  std::string out = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[" + std::to_string(num_qubits) +
                    "];\ncreg c[" + std::to_string(num_qubits) + "];\n";
  out.reserve(out.size() + gate_count * 24);
  for (std::size_t k = 0; k < gate_count; ++k) {
    switch (random() % 6) {
      case 0:
        out += "u3(";
        angle(out);
        out += ",";
        angle(out);
        out += ",";
        angle(out);
        out += ") ";
        break;
      case 1:
        out += "u1(";
        angle(out);
        out += ") ";
        break;
      case 2: {
        const std::uint64_t control = random() % qubits;
        const std::uint64_t target = (control + 1 + random() % (qubits - 1)) % qubits;
        out += "cx q[" + std::to_string(control) + "],q[" + std::to_string(target) + "];\n";
        continue;
      }
      case 3:
        out += "h ";
        break;
      case 4:
        out += "t ";
        break;
      default:
        out += "rz(";
        angle(out);
        out += ") ";
    }
    qubit(out);
    out += ";\n";
  }
  return out;
}

}  // namespace corvane::bench
