// Export and import reach a fixed point. For random gate sequences (seeded, so every
// run checks the same ones): T1 = export(gs); T2 = export(import(T1)) and
// T3 = export(import(T2)), both with the imported register layout as the tool's convert
// writes it. T2 == T3 always; T1 == T2 as well when T1 was exported with default
// arguments, the sequence holds no "-z" and all its parameters are plain numbers.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

using corvane::GateSequence;
using corvane::IndexList;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::RegisterList;
namespace qasm3 = corvane::qasm3;

// A family of gates the generator draws from: its ids, how many targets, controls and
// angles a record of it has, and how often it is drawn (in percent).
struct Family {
  std::vector<const char*> ids;
  std::size_t targets;
  std::size_t min_controls;  // 1 for the controlled forms
  int more_controls;         // percent chance of up to three more controls (0: exactly min)
  std::size_t angles;
  int weight;
  bool reads_back_differently = false;  // "-z" comes back as a phase and a "z"
};

const std::vector<Family> FAMILIES = {
    {{"h", "x", "y", "z", "s", "t", "s_dag", "t_dag", "sqrtx", "i"}, 1, 0, 20, 0, 20},
    {{"rx", "ry", "rz", "p", "phase_gate"}, 1, 0, 20, 1, 15},
    {{"u"}, 1, 0, 20, 3, 5},
    {{"cnot", "cx", "cy", "cz", "ch"}, 1, 1, 0, 0, 10},
    {{"mcx", "mcy", "mcz", "mch", "cs"}, 1, 1, 60, 0, 5},
    {{"crx", "cry", "crz", "cp", "mcrx", "mcry", "mcrz", "mcp"}, 1, 1, 40, 1, 7},
    {{"swap"}, 2, 0, 30, 0, 3},
    {{"rzz"}, 2, 0, 30, 1, 2},
    {{"gp", "global_phase"}, 0, 0, 40, 1, 3},
    {{"sqrtx_dag", "sqrty", "sqrty_dag"}, 1, 0, 30, 0, 6},
    {{"-z"}, 1, 0, 30, 0, 2, true},
};

class SequenceGenerator : SeededRandom {
 public:
  SequenceGenerator(std::uint64_t seed, std::int64_t qubits, std::int64_t bits)
      : SeededRandom(seed), qubits_(qubits), bits_(bits) {}

  GateSequence sequence(std::size_t gates) {
    GateSequence gs(qubits_);
    for (std::size_t k = 0; k < gates; ++k)
      gs.add_gate(gate(qubits_, 0));
    return gs;
  }

  // Whether T1 == T2 is expected: no "-z", and every parameter a plain number on a
  // standard gate.
  bool reads_back_exactly = true;

 private:
  // Angles with many digits, some small, negative or whole.
  double angle() {
    const double u = unit();
    switch (below(4)) {
      case 0:
        return static_cast<double>(below(9) - 4);
      case 1:
        return u * 1e-6;
      default:
        return (u - 0.5) * 12.0;
    }
  }

  Parameter angles(std::size_t count) {
    if (count == 1 && chance(10)) {
      reads_back_exactly = false;
      const char* const texts[] = {"pi/4", "-pi", "0.5*2"};
      return Parameter(std::string(texts[below(3)]));
    }
    if (count == 1 && chance(50)) return Parameter(angle());
    std::vector<corvane::ParamScalar> items;
    for (std::size_t k = 0; k < count; ++k)
      items.emplace_back(angle());
    return Parameter::list(std::move(items), chance(50));
  }

  // A record of `id` on `targets` + `controls` distinct qubits below `scope`.
  QuantumGate on_qubits(std::string id, std::int64_t scope, std::size_t targets,
                        std::size_t controls, Parameter parameter = {}) {
    const IndexList qubits = distinct_below(scope, targets + controls);
    const auto split = qubits.begin() + static_cast<std::ptrdiff_t>(controls);
    IndexList states;
    for (std::size_t k = 0; k < controls; ++k)
      states.push_back(chance(25) ? 0 : 1);
    return QuantumGate(std::move(id), IndexList(split, qubits.end()),
                       IndexList(qubits.begin(), split), std::move(states), std::move(parameter));
  }

  QuantumGate gate(std::int64_t scope, int depth) {
    std::int64_t roll = below(100);
    for (const Family& f : FAMILIES) {
      if ((roll -= f.weight) >= 0) continue;
      const auto room = scope - static_cast<std::int64_t>(f.targets + f.min_controls);
      if (room < 0) break;
      std::size_t controls = f.min_controls;
      if (room > 0 && f.more_controls > 0 && chance(f.more_controls))
        controls += static_cast<std::size_t>(1 + below(std::min<std::int64_t>(room, 3)));
      Parameter parameter;
      if (f.angles > 0) parameter = angles(f.angles);
      if (f.ids[0] == std::string("sqrtx_dag") && chance(10)) {
        reads_back_exactly = false;  // a parameter on a gate written by a definition
        parameter = angles(1);
      }
      reads_back_exactly = reads_back_exactly && !f.reads_back_differently;
      const std::string id = f.ids[static_cast<std::size_t>(below(std::ssize(f.ids)))];
      return on_qubits(id, scope, f.targets, controls, std::move(parameter));
    }
    if (roll < 8) return measure(scope);
    if (depth < 3) return block(scope, depth);
    return on_qubits("h", scope, 1, 0);
  }

  QuantumGate measure(std::int64_t scope) {
    QuantumGate m("measure", {below(scope)});
    m.set_classical_target(IndexList{below(bits_)});
    if (chance(30)) m.set_name("measure");
    return m;
  }

  // A block on its own operands, sometimes reaching past them (written inline then),
  // sometimes controlled; bodies repeat, so definitions are both created and shared.
  QuantumGate block(std::int64_t scope, int depth) {
    const std::int64_t arity = 1 + below(std::min<std::int64_t>(scope, 3));
    const bool reaches_out = chance(15);
    const std::size_t controls =
        reaches_out || scope - arity <= 0 || !chance(25)
            ? 0
            : static_cast<std::size_t>(1 + below(std::min<std::int64_t>(scope - arity, 3)));
    std::vector<QuantumGate> body;
    for (std::int64_t k = 1 + below(4); k > 0; --k) {
      QuantumGate child = gate(reaches_out ? scope : arity, depth + 1);
      // Measurements cannot be written under the controls of an inlined block, and
      // controlled blocks are written as definitions, which may not hold measurements.
      if (child.id == "measure" && reaches_out) child = on_qubits("x", scope, 1, 0);
      if (controls > 0 && (child.id == "measure" || child.id == "block"))
        child = QuantumGate("z", {0});
      body.push_back(std::move(child));
    }
    QuantumGate b = on_qubits("block", scope, static_cast<std::size_t>(arity), controls);
    b.set_block_gate_sequence(corvane::make_block(std::move(body)));
    if (chance(50)) b.set_name("custom");
    return b;
  }

  std::int64_t qubits_;
  std::int64_t bits_;
};

std::string export_with_layout(const GateSequence& gs) {
  return qasm3::gate_sequence_to_qasm3(
      gs, {.qregs = gs.qasm_quantum_registers, .cregs = gs.qasm_classical_registers});
}

// A register layout over `total` indices: one register, or several.
RegisterList layout(const char* prefix, std::int64_t total, std::uint64_t seed) {
  if (seed % 2 == 0) return {{std::string(prefix) + "all", total}};
  RegisterList regs;
  for (int k = 0; total > 0; ++k) {
    const std::int64_t size =
        std::min<std::int64_t>(total, 1 + static_cast<std::int64_t>((seed >> k) % 3));
    regs.push_back({std::string(prefix) + std::to_string(k), size});
    total -= size;
  }
  return regs;
}

TEST(RoundTrip, ExportImportReachesAFixedPoint) {
  int checked = 0;
  int export_failed = 0;
  int exact = 0;
  for (std::uint64_t seed = 1; seed <= 2000; ++seed) {
    const std::int64_t qubits = 1 + static_cast<std::int64_t>(seed % 6);
    const std::int64_t bits = 1 + static_cast<std::int64_t>(seed % 4);
    SequenceGenerator gen(seed, qubits, bits);
    const GateSequence gs = gen.sequence(1 + seed % 25);
    const bool default_arguments = seed % 3 != 0;
    std::string t1;
    if (outcome_of([&] {
          t1 = default_arguments
                   ? qasm3::gate_sequence_to_qasm3(gs)
                   : qasm3::gate_sequence_to_qasm3(gs, {.num_clbits = bits,
                                                        .qregs = layout("r", qubits + 1, seed),
                                                        .cregs = layout("b", bits + 1, seed >> 8)});
        }) != "ok") {
      ++export_failed;
      continue;
    }
    ++checked;
    std::string t2;
    std::string t3;
    ASSERT_EQ(outcome_of([&] { t2 = export_with_layout(qasm3::qasm3_to_gate_sequence(t1)); }), "ok")
        << "seed " << seed << "\n"
        << t1;
    ASSERT_EQ(outcome_of([&] { t3 = export_with_layout(qasm3::qasm3_to_gate_sequence(t2)); }), "ok")
        << "seed " << seed << "\n"
        << t2;
    EXPECT_EQ(t3, t2) << "seed " << seed << "\nT1:\n" << t1;
    if (default_arguments && gen.reads_back_exactly) {
      ++exact;
      EXPECT_EQ(t2, t1) << "seed " << seed;
    }
  }
  // The generator must mostly produce exportable sequences, or the property says little.
  EXPECT_GT(checked, 1800) << export_failed << " exports failed";
  EXPECT_GT(exact, 400);
}

}  // namespace
