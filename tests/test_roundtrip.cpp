// Export and import reach a fixed point. For random gate sequences (seeded, so every
// run checks the same ones): T1 = export(gs); T2 = export(import(T1)) and
// T3 = export(import(T2)), both with the imported register layout as the tool's convert
// writes it. T2 == T3 always; T1 == T2 as well when T1 was exported with default
// arguments, the sequence holds no "-z" and all its parameters are plain numbers.
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

// What a generated sequence contains beyond plain numbers on standard gates.
struct Traits {
  bool has_minus_z = false;
  bool has_text_parameter = false;
  bool has_parameter_on_non_standard = false;
};

class SequenceGenerator {
 public:
  SequenceGenerator(std::uint64_t seed, std::int64_t qubits, std::int64_t bits)
      : state_(seed), qubits_(qubits), bits_(bits) {}

  GateSequence sequence(std::size_t gates) {
    GateSequence gs(qubits_);
    for (std::size_t k = 0; k < gates; ++k)
      gs.add_gate(gate(qubits_, 0));
    return gs;
  }

  Traits traits;

 private:
  std::uint64_t next() {  // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31U);
  }
  std::int64_t below(std::int64_t n) {
    return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(n));
  }
  bool chance(int percent) { return below(100) < percent; }
  template <class T, std::size_t N>
  T pick(const T (&items)[N]) {
    return items[below(N)];
  }

  // Angles with many digits, some small, negative or whole.
  double angle() {
    switch (below(4)) {
      case 0:
        return static_cast<double>(below(9) - 4);
      case 1:
        return static_cast<double>(next() >> 11U) * 0x1p-53 * 1e-6;
      default:
        return (static_cast<double>(next() >> 11U) * 0x1p-53 - 0.5) * 12.0;
    }
  }

  Parameter angles(std::size_t count) {
    if (count == 1 && chance(10)) {
      traits.has_text_parameter = true;
      return Parameter(std::string(pick({"pi/4", "-pi", "0.5*2"})));
    }
    if (count == 1 && chance(50)) return Parameter(angle());
    std::vector<corvane::ParamScalar> items;
    for (std::size_t k = 0; k < count; ++k)
      items.emplace_back(angle());
    return Parameter::list(std::move(items), chance(50));
  }

  // `count` distinct indices below `scope`.
  IndexList distinct(std::int64_t scope, std::size_t count) {
    IndexList picked;
    while (picked.size() < count) {
      const std::int64_t q = below(scope);
      if (std::find(picked.begin(), picked.end(), q) == picked.end()) picked.push_back(q);
    }
    return picked;
  }

  // Splits `count` + `controls` distinct qubits into a record's targets and controls.
  QuantumGate on_qubits(std::string id, std::int64_t scope, std::size_t targets,
                        std::size_t controls, Parameter parameter = {}) {
    const IndexList qubits = distinct(scope, targets + controls);
    IndexList ctrl(qubits.begin(), qubits.begin() + static_cast<std::ptrdiff_t>(controls));
    IndexList tgt(qubits.begin() + static_cast<std::ptrdiff_t>(controls), qubits.end());
    IndexList states;
    for (std::size_t k = 0; k < controls; ++k)
      states.push_back(chance(25) ? 0 : 1);
    return QuantumGate(std::move(id), std::move(tgt), std::move(ctrl), std::move(states),
                       std::move(parameter));
  }

  std::size_t some_controls(std::int64_t scope, std::size_t targets, int percent) {
    const auto room = static_cast<std::int64_t>(scope) - static_cast<std::int64_t>(targets);
    if (room <= 0 || !chance(percent)) return 0;
    return static_cast<std::size_t>(1 + below(std::min<std::int64_t>(room, 3)));
  }

  QuantumGate gate(std::int64_t scope, int depth) {
    static const char* const kPlain[] = {"h", "x",     "y",     "z",     "s",
                                         "t", "s_dag", "t_dag", "sqrtx", "i"};
    static const char* const kRotation[] = {"rx", "ry", "rz", "p", "phase_gate"};
    static const char* const kControlled[] = {"cnot", "cx", "cy", "cz", "ch"};
    static const char* const kMulti[] = {"mcx", "mcy", "mcz", "mch", "cs"};
    static const char* const kControlledRotation[] = {"crx",  "cry",  "crz",  "cp",
                                                      "mcrx", "mcry", "mcrz", "mcp"};
    static const char* const kNonStandard[] = {"sqrtx_dag", "sqrty", "sqrty_dag"};
    const std::int64_t roll = below(100);
    if (roll < 20) return on_qubits(pick(kPlain), scope, 1, some_controls(scope, 1, 20));
    if (roll < 35)
      return on_qubits(pick(kRotation), scope, 1, some_controls(scope, 1, 20), angles(1));
    if (roll < 40) return on_qubits("u", scope, 1, some_controls(scope, 1, 20), angles(3));
    if (roll < 50 && scope >= 2) return on_qubits(pick(kControlled), scope, 1, 1);
    if (roll < 55 && scope >= 2)
      return on_qubits(pick(kMulti), scope, 1, 1 + some_controls(scope, 2, 60));
    if (roll < 62 && scope >= 2) {
      return on_qubits(pick(kControlledRotation), scope, 1, 1 + some_controls(scope, 2, 40),
                       angles(1));
    }
    if (roll < 65 && scope >= 2) return on_qubits("swap", scope, 2, some_controls(scope, 2, 30));
    if (roll < 67 && scope >= 2)
      return on_qubits("rzz", scope, 2, some_controls(scope, 2, 30), angles(1));
    if (roll < 70) {
      return on_qubits(chance(50) ? "gp" : "global_phase", scope, 0, some_controls(scope, 0, 40),
                       angles(1));
    }
    if (roll < 76) {
      Parameter parameter;
      if (chance(10)) {
        traits.has_parameter_on_non_standard = true;
        parameter = angles(1);
      }
      return on_qubits(pick(kNonStandard), scope, 1, some_controls(scope, 1, 30),
                       std::move(parameter));
    }
    if (roll < 78) {
      traits.has_minus_z = true;
      return on_qubits("-z", scope, 1, some_controls(scope, 1, 30));
    }
    if (roll < 86) return measure(scope);
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
    std::vector<QuantumGate> body;
    const std::int64_t count = 1 + below(4);
    for (std::int64_t k = 0; k < count; ++k) {
      QuantumGate child = gate(reaches_out ? scope : arity, depth + 1);
      // Measurements under a controlled inline block cannot be written.
      if (child.id == "measure" && reaches_out) child = on_qubits("x", scope, 1, 0);
      body.push_back(std::move(child));
    }
    const std::size_t controls =
        reaches_out ? 0 : some_controls(scope, static_cast<std::size_t>(arity), 25);
    QuantumGate b = on_qubits("block", scope, static_cast<std::size_t>(arity), controls);
    if (controls > 0) {
      // Controlled blocks are written as definitions, which may not hold measurements.
      for (QuantumGate& child : body) {
        if (child.id == "measure" || child.id == "block") child = QuantumGate("z", {0});
      }
    }
    b.set_block_gate_sequence(corvane::make_block(std::move(body)));
    if (chance(50)) b.set_name("custom");
    return b;
  }

  std::uint64_t state_;
  std::int64_t qubits_;
  std::int64_t bits_;
};

std::string export_with_layout(const GateSequence& gs) {
  return qasm3::gate_sequence_to_qasm3(gs, "q", "c", std::nullopt, gs.qasm_quantum_registers,
                                       gs.qasm_classical_registers);
}

// Two register layouts over `total` indices: one register, or several.
RegisterList layout(const char* prefix, std::int64_t total, std::uint64_t seed) {
  if (seed % 2 == 0) return {{std::string(prefix) + "all", total}};
  RegisterList regs;
  std::int64_t left = total;
  for (int k = 0; left > 0; ++k) {
    const std::int64_t size =
        std::min<std::int64_t>(left, 1 + static_cast<std::int64_t>((seed >> k) % 3));
    regs.push_back({std::string(prefix) + std::to_string(k), size});
    left -= size;
  }
  return regs;
}

struct Tally {
  int checked = 0;
  int export_failed = 0;
  int exact = 0;
};

void check_round_trip(std::uint64_t seed, Tally& tally) {
  const std::int64_t qubits = 1 + static_cast<std::int64_t>(seed % 6);
  const std::int64_t bits = 1 + static_cast<std::int64_t>(seed % 4);
  SequenceGenerator gen(seed, qubits, bits);
  const GateSequence gs = gen.sequence(1 + seed % 25);
  const bool default_arguments = seed % 3 != 0;

  std::string t1;
  const std::string exported = outcome_of([&] {
    t1 = default_arguments
             ? qasm3::gate_sequence_to_qasm3(gs)
             : qasm3::gate_sequence_to_qasm3(gs, "q", "c", bits, layout("r", qubits + 1, seed),
                                             layout("b", bits + 1, seed >> 8));
  });
  if (exported != "ok") {
    ++tally.export_failed;
    return;
  }
  ++tally.checked;
  std::string t2;
  std::string t3;
  ASSERT_EQ(outcome_of([&] { t2 = export_with_layout(qasm3::qasm3_to_gate_sequence(t1)); }), "ok")
      << "seed " << seed << "\n"
      << t1;
  ASSERT_EQ(outcome_of([&] { t3 = export_with_layout(qasm3::qasm3_to_gate_sequence(t2)); }), "ok")
      << "seed " << seed << "\n"
      << t2;
  EXPECT_EQ(t3, t2) << "seed " << seed << "\nT1:\n" << t1;
  const Traits& traits = gen.traits;
  if (default_arguments && !traits.has_minus_z && !traits.has_text_parameter &&
      !traits.has_parameter_on_non_standard) {
    ++tally.exact;
    EXPECT_EQ(t2, t1) << "seed " << seed;
  }
}

TEST(RoundTrip, ExportImportReachesAFixedPoint) {
  Tally tally;
  for (std::uint64_t seed = 1; seed <= 2000; ++seed) {
    check_round_trip(seed, tally);
    if (HasFatalFailure()) return;
  }
  RecordProperty("checked", tally.checked);
  RecordProperty("exact", tally.exact);
  // The generator must mostly produce exportable sequences, or the property says little.
  EXPECT_GT(tally.checked, 1800) << tally.export_failed << " exports failed";
  EXPECT_GT(tally.exact, 400);
}

// A sequence the exporter writes with definitions of every kind reads back record for
// record: non-standard gates as themselves, blocks with shared children, measurements.
TEST(RoundTrip, RecordsSurviveTheTrip) {
  GateSequence gs(3);
  gs.add_gate(QuantumGate("sqrty", {1}, {0}, {0}));
  std::vector<QuantumGate> body;
  body.emplace_back("h", IndexList{0});
  body.emplace_back("cnot", IndexList{1}, IndexList{0}, IndexList{1});
  const corvane::GateBlock shared = corvane::make_block(std::move(body));
  for (int k = 0; k < 2; ++k) {
    QuantumGate b("block", {2, 0});
    b.set_block_gate_sequence(shared);
    gs.add_gate(std::move(b));
  }
  QuantumGate m("measure", {2});
  m.set_classical_target(IndexList{1});
  gs.add_gate(std::move(m));

  const GateSequence back = qasm3::qasm3_to_gate_sequence(qasm3::gate_sequence_to_qasm3(gs));
  ASSERT_EQ(back.data().size(), 4U);
  EXPECT_EQ(back.data()[0].id, "sqrty");
  EXPECT_EQ(back.data()[0].control_state, (IndexList{0}));
  EXPECT_EQ(back.data()[1].name(), "block_1");
  EXPECT_EQ(back.data()[1].block_gate_sequence(), back.data()[2].block_gate_sequence());
  EXPECT_EQ((*back.data()[1].block_gate_sequence())[1].id, "cx");
  EXPECT_EQ(back.qasm_measure_map, (std::vector<corvane::MeasurePair>{{2, 1}}));
  EXPECT_EQ(back.qasm_classical_registers, (RegisterList{{"c", 2}}));
}

}  // namespace
