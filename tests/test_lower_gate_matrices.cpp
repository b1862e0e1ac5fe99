// The standard gates' matrices as the language reference defines them, checked against
// the gate model's own table and against the library's definitions, and principal powers.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "corvane/backend/pygates/unitary.hpp"
#include "lower_test_support.hpp"
#include "qasm/lower/gate_matrices.hpp"

namespace {

using lower_test::times;

using corvane::qasm3::detail::lower::adjoint;
using corvane::qasm3::detail::lower::Complex;
using corvane::qasm3::detail::lower::multiply;
using corvane::qasm3::detail::lower::named_gate;
using corvane::qasm3::detail::lower::named_one_qubit_gate;
using corvane::qasm3::detail::lower::nearly_equal;
using corvane::qasm3::detail::lower::principal_power;
using corvane::qasm3::detail::lower::SquareMatrix;
using corvane::qasm3::detail::lower::standard_gate_matrix;

constexpr double PI = std::numbers::pi;

SquareMatrix gate(const std::string& name, std::vector<double> parameters = {}) {
  return lower_test::standard_matrix(name, std::move(parameters));
}

std::string show(const SquareMatrix& m) {
  std::string text;
  for (const Complex& entry : m.entries)
    text += "(" + std::to_string(entry.real()) + "," + std::to_string(entry.imag()) + ") ";
  return text;
}

#define EXPECT_MATRIX(actual, expected) \
  EXPECT_TRUE(nearly_equal(actual, expected, 1e-12)) << show(actual) << "\nvs\n" << show(expected)

// Two tables written apart: the gate model's stored matrices and the language's.
struct ModelRow {
  const char* language_name;
  const char* model_id;
  std::vector<double> parameters;
};

class AgreesWithTheGateModel : public testing::TestWithParam<ModelRow> {};

TEST_P(AgreesWithTheGateModel, OnTheOneQubitGates) {
  const ModelRow& row = GetParam();
  const corvane::GateMatrixEntry* entry = corvane::gate_set().get(row.model_id);
  ASSERT_NE(entry, nullptr);
  const corvane::Matrix model =
      entry->is_function()
          ? entry->of_parameter(row.parameters.size() == 1
                                    ? corvane::Parameter(row.parameters[0])
                                    : corvane::Parameter::list(std::vector<corvane::ParamScalar>(
                                          row.parameters.begin(), row.parameters.end())))
          : *entry->fixed;
  // The model stores a two-qubit gate with its first operand as the high bit.
  SquareMatrix expected(model.rows);
  auto first_operand_low = [&](std::size_t index) {
    return model.rows == 4 ? ((index & 1U) << 1U) | (index >> 1U) : index;
  };
  for (std::size_t row_index = 0; row_index < model.rows; ++row_index) {
    for (std::size_t column = 0; column < model.cols; ++column) {
      expected.at(first_operand_low(row_index), first_operand_low(column)) =
          model.data[row_index * model.cols + column];
    }
  }
  EXPECT_MATRIX(gate(row.language_name, row.parameters), expected);
}

INSTANTIATE_TEST_SUITE_P(StandardGates, AgreesWithTheGateModel,
                         testing::Values(ModelRow{"x", "x", {}}, ModelRow{"y", "y", {}},
                                         ModelRow{"z", "z", {}}, ModelRow{"h", "h", {}},
                                         ModelRow{"s", "s", {}}, ModelRow{"sdg", "s_dag", {}},
                                         ModelRow{"t", "t", {}}, ModelRow{"tdg", "t_dag", {}},
                                         ModelRow{"sx", "sqrtx", {}}, ModelRow{"id", "i", {}},
                                         ModelRow{"rx", "rx", {0.7}}, ModelRow{"ry", "ry", {-1.3}},
                                         ModelRow{"rz", "rz", {2.9}}, ModelRow{"p", "p", {0.4}},
                                         ModelRow{"phase", "phase_gate", {-2.2}},
                                         ModelRow{"u1", "p", {1.1}}, ModelRow{"cx", "cnot", {}},
                                         ModelRow{"cy", "cy", {}}, ModelRow{"cz", "cz", {}},
                                         ModelRow{"ch", "ch", {}}, ModelRow{"swap", "swap", {}}));

// The bodies of the standard library, multiplied out with the language's U: where the
// library and the reference agree, the matrices must.
TEST(LibraryDefinitions, AgreeWithTheReference) {
  const Complex i{0, 1};
  auto global = [](double angle) { return std::polar(1.0, angle); };
  EXPECT_MATRIX(times(gate("U", {PI, 0, PI}), global(-PI / 2)), gate("x"));
  EXPECT_MATRIX(times(gate("U", {PI, PI / 2, PI / 2}), global(-PI / 2)), gate("y"));
  EXPECT_MATRIX(times(gate("U", {PI / 2, 0, PI}), global(-PI / 4)), gate("h"));
  const double theta = 0.83;
  EXPECT_MATRIX(times(gate("U", {theta, -PI / 2, PI / 2}), global(-theta / 2)),
                gate("rx", {theta}));
  EXPECT_MATRIX(times(gate("U", {theta, 0, 0}), global(-theta / 2)), gate("ry", {theta}));
  EXPECT_MATRIX(times(gate("U", {0, 0, theta}), global(-theta / 2)), gate("rz", {theta}));
  EXPECT_MATRIX(gate("U", {0, 0, theta}), gate("p", {theta}));
  EXPECT_MATRIX(times(gate("U", {0.3, 0.5, 0.7}), global(-(0.3 + 0.5 + 0.7) / 2)),
                gate("u3", {0.3, 0.5, 0.7}));
  EXPECT_MATRIX(gate("u2", {0.5, 0.7}), gate("u3", {PI / 2, 0.5, 0.7}));
  EXPECT_MATRIX(multiply(gate("sx"), gate("sx")), gate("x"));
  EXPECT_MATRIX(multiply(gate("s"), gate("s")), gate("z"));
  EXPECT_MATRIX(multiply(gate("t"), gate("t")), gate("s"));
  EXPECT_MATRIX(gate("gphase", {0.25}), times(SquareMatrix::identity(1), global(0.25)));
  // cu(θ, φ, λ, γ) = p(γ - θ/2) a; ctrl @ U(θ, φ, λ) a, b. With the control on bit 0:
  // the target block sees e^{i(γ - θ/2)}·e^{iθ/2}·u = e^{iγ}·u.
  const SquareMatrix cu = gate("cu", {0.3, 0.5, 0.7, 0.9});
  const SquareMatrix u = gate("U", {0.3, 0.5, 0.7});
  EXPECT_EQ(cu.at(0, 0), Complex(1));
  EXPECT_EQ(cu.at(2, 2), Complex(1));
  const Complex relative = global(0.9 - 0.3 / 2);
  EXPECT_LT(std::abs(cu.at(1, 1) - relative * u.at(0, 0)), 1e-12);
  EXPECT_LT(std::abs(cu.at(3, 1) - relative * u.at(1, 0)), 1e-12);
  EXPECT_LT(std::abs(cu.at(3, 3) - relative * u.at(1, 1)), 1e-12);
  // cx a, b: the control is the first operand, bit 0 of the index.
  const SquareMatrix cx = gate("cx");
  EXPECT_EQ(cx.at(3, 1), Complex(1));
  EXPECT_EQ(cx.at(2, 2), Complex(1));
  EXPECT_EQ(gate("CX").entries, cx.entries);
  (void)i;
}

// A one-qubit gate on operand `operand` (bit `operand` of the index) of two.
SquareMatrix on_operand(const SquareMatrix& one, std::size_t operand) {
  SquareMatrix m(4);
  for (std::size_t row = 0; row < 4; ++row) {
    for (std::size_t column = 0; column < 4; ++column) {
      const std::size_t other = 1 - operand;
      if (((row >> other) & 1U) != ((column >> other) & 1U)) continue;
      m.at(row, column) = one.at((row >> operand) & 1U, (column >> operand) & 1U);
    }
  }
  return m;
}

// The gates applied in order, the first applied rightmost in the product.
SquareMatrix applied(const std::vector<SquareMatrix>& gates) {
  SquareMatrix total = SquareMatrix::identity(gates.front().dimension);
  for (const SquareMatrix& g : gates)
    total = multiply(g, total);
  return total;
}

// The gates only qelib1.inc defines mean what its bodies say, multiplied out here from the
// gates they call (u1 and u3 as both libraries share them, cx on operands 0 then 1).
TEST(LibraryDefinitions, QelibOnlyGatesAreTheirBodies) {
  const double theta = 0.83;
  const double phi = -1.7;
  const double lambda = 2.4;
  // u(θ, φ, λ) is U(θ, φ, λ) with OpenQASM 2's U: u3.
  EXPECT_MATRIX(gate("u", {theta, phi, lambda}), gate("u3", {theta, phi, lambda}));
  // sxdg: s, h, s, which is sx's inverse only up to a phase.
  EXPECT_MATRIX(gate("sxdg"), applied({gate("s"), gate("h"), gate("s")}));
  EXPECT_MATRIX(gate("sxdg"), times(adjoint(gate("sx")), std::polar(1.0, PI / 4)));
  // csx a, b: h b; cu1(π/2) a, b; h b.
  const SquareMatrix h_b = on_operand(gate("h"), 1);
  EXPECT_MATRIX(gate("csx"), applied({h_b, gate("cp", {PI / 2}), h_b}));
  // cu3 c, t: u1((λ+φ)/2) c; u1((λ-φ)/2) t; cx c, t; u3(-θ/2, 0, -(φ+λ)/2) t; cx c, t;
  // u3(θ/2, φ, 0) t.
  const SquareMatrix body =
      applied({on_operand(gate("u1", {(lambda + phi) / 2}), 0),
               on_operand(gate("u1", {(lambda - phi) / 2}), 1), gate("cx"),
               on_operand(gate("u3", {-theta / 2, 0, -(phi + lambda) / 2}), 1), gate("cx"),
               on_operand(gate("u3", {theta / 2, phi, 0}), 1)});
  EXPECT_MATRIX(gate("cu3", {theta, phi, lambda}), body);
  // Which is the gate model's controlled u times the phase e^{i(λ-φ)/4}, which a control
  // on it observes.
  EXPECT_MATRIX(gate("cu3", {theta, phi, lambda}),
                times(gate("cu", {theta, phi, lambda, 0}), std::polar(1.0, (lambda - phi) / 4)));
}

TEST(LibraryDefinitions, RefuseWhatTheyDoNotDefine) {
  EXPECT_FALSE(standard_gate_matrix("rx", std::vector<double>{}));
  EXPECT_FALSE(standard_gate_matrix("x", std::vector<double>{0.5}));
  EXPECT_FALSE(standard_gate_matrix("mygate", std::vector<double>{}));
  EXPECT_FALSE(standard_gate_matrix("cu", std::vector<double>{1, 2}));
  EXPECT_FALSE(standard_gate_matrix("cu3", std::vector<double>{1, 2, 3, 4}));
  EXPECT_FALSE(standard_gate_matrix("u", std::vector<double>{1, 2}));
  EXPECT_FALSE(standard_gate_matrix("sxdg", std::vector<double>{1}));
  EXPECT_FALSE(standard_gate_matrix("c3x", std::vector<double>{}));
}

// Angles near the largest doubles, whose sum overflows: the phases of the sum are products
// of the phases, and the matrices stay unitary.
TEST(LibraryDefinitions, HugeAnglesKeepUnitaryMatrices) {
  constexpr double HUGE_ANGLE = 1.797e308;
  const auto e = [](double angle) { return std::exp(Complex(0.0, angle)); };
  const SquareMatrix u = gate("U", {1.0, HUGE_ANGLE, HUGE_ANGLE});
  EXPECT_LT(std::abs(u.at(1, 1) - std::cos(0.5) * e(0.5) * e(HUGE_ANGLE) * e(HUGE_ANGLE)), 1e-12);
  const std::vector<std::pair<std::string, std::vector<double>>> rows = {
      {"U", {1.0, HUGE_ANGLE, HUGE_ANGLE}},    {"u3", {1.0, -HUGE_ANGLE, -HUGE_ANGLE}},
      {"u", {1.0, HUGE_ANGLE, HUGE_ANGLE}},    {"u2", {HUGE_ANGLE, HUGE_ANGLE}},
      {"cu3", {1.0, -HUGE_ANGLE, HUGE_ANGLE}}, {"cu", {1.0, HUGE_ANGLE, HUGE_ANGLE, 0.5}},
  };
  for (const auto& [name, parameters] : rows) {
    const SquareMatrix m = gate(name, parameters);
    EXPECT_MATRIX(multiply(m, adjoint(m)), SquareMatrix::identity(m.dimension));
  }
  const corvane::GateSequence gs = corvane::qasm3::lower_to_gate_sequence(
      "qubit[2] q; negctrl @ U(1.0, 1.797e308, 1.797e308) q[0], q[1];");
  for (const corvane::QuantumGate& g : gs.data()) {
    if (!g.matrix()) continue;
    for (const std::complex<double>& entry : g.matrix()->data)
      EXPECT_TRUE(std::isfinite(entry.real()) && std::isfinite(entry.imag())) << g.id;
  }
}

struct PowerRow {
  const char* gate;
  std::vector<double> parameters;
  double exponent;
  const char* expected;
  std::vector<double> expected_parameters;
};

class PrincipalPower : public testing::TestWithParam<PowerRow> {};

TEST_P(PrincipalPower, MatchesTheNamedGate) {
  const PowerRow& row = GetParam();
  EXPECT_MATRIX(principal_power(gate(row.gate, row.parameters), row.exponent),
                gate(row.expected, row.expected_parameters));
}

INSTANTIATE_TEST_SUITE_P(
    Gates, PrincipalPower,
    testing::Values(PowerRow{"x", {}, 0.5, "sx", {}}, PowerRow{"z", {}, 0.5, "s", {}},
                    PowerRow{"z", {}, -0.5, "sdg", {}}, PowerRow{"s", {}, 0.5, "t", {}},
                    PowerRow{"x", {}, 1, "x", {}}, PowerRow{"x", {}, 2, "id", {}},
                    PowerRow{"h", {}, 2, "id", {}}, PowerRow{"sx", {}, 2, "x", {}},
                    PowerRow{"rx", {1.2}, 0.25, "rx", {0.3}},
                    PowerRow{"rz", {-2.4}, 1.5, "rz", {-3.6}},
                    PowerRow{"p", {2.0}, -0.5, "p", {-1.0}},
                    PowerRow{"cx", {}, 0.5, "cu", {PI / 2, -PI / 2, PI / 2, PI / 4}},
                    PowerRow{"swap", {}, 1, "swap", {}}, PowerRow{"ccx", {}, 1, "ccx", {}},
                    PowerRow{"cswap", {}, 3, "cswap", {}}));

TEST(PrincipalPowerOf, MinusOneTakesThePositiveBranch) {
  // -I has the eigenphase π (not -π): its square root is i·I.
  SquareMatrix minus = SquareMatrix::identity(2);
  for (Complex& entry : minus.entries)
    entry = -entry;
  SquareMatrix expected = SquareMatrix::identity(2);
  for (Complex& entry : expected.entries)
    entry *= Complex(0, 1);
  EXPECT_MATRIX(principal_power(minus, 0.5), expected);
}

TEST(PrincipalPowerOf, RandomUnitariesSquaresBack) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> angle(-PI, PI);
  for (int trial = 0; trial < 40; ++trial) {
    // A product of random rotations on two qubits, through a controlled U.
    SquareMatrix m = gate("cu", {angle(random), angle(random), angle(random), angle(random)});
    m = multiply(m, gate("swap"));
    m = multiply(m, gate("crx", {angle(random)}));
    const SquareMatrix root = principal_power(m, 0.5);
    EXPECT_MATRIX(multiply(root, root), m);
    EXPECT_MATRIX(multiply(root, adjoint(root)), SquareMatrix::identity(4));
    const SquareMatrix cube_root = principal_power(m, 1.0 / 3);
    EXPECT_MATRIX(multiply(cube_root, multiply(cube_root, cube_root)), m);
  }
}

TEST(NamedGates, AreFoundByTheirMatrix) {
  for (const char* name : {"id", "x", "y", "z", "h", "s", "sdg", "t", "tdg", "sx"}) {
    const auto named = named_one_qubit_gate(gate(name));
    ASSERT_TRUE(named) << name;
    EXPECT_EQ(named->name, name);
    EXPECT_FALSE(named->angle);
  }
  const auto phase = named_one_qubit_gate(gate("p", {0.7}));
  ASSERT_TRUE(phase);
  EXPECT_EQ(phase->name, "p");
  EXPECT_NEAR(*phase->angle, 0.7, 1e-15);
  EXPECT_FALSE(named_one_qubit_gate(gate("rx", {0.7})));
  EXPECT_FALSE(named_one_qubit_gate(gate("cx")));
}

// Two-qubit matrices are named with the control as the first operand (bit 0), as the
// importer reads cx a, b; the same gates controlled by the second operand have no name.
TEST(NamedGates, TwoQubitGatesHaveTheirControlFirst) {
  struct Row {
    const char* gate;
    std::vector<double> parameters;
    const char* name;
    std::optional<double> angle;
  };
  const Row rows[] = {{"cx", {}, "cx", std::nullopt},
                      {"cy", {}, "cy", std::nullopt},
                      {"ch", {}, "ch", std::nullopt},
                      {"cz", {}, "cp", PI},  // a diagonal one is a controlled phase
                      {"cp", {-2.9}, "cp", -2.9}};
  for (const Row& row : rows) {
    const auto named = named_gate(gate(row.gate, row.parameters));
    ASSERT_TRUE(named) << row.gate;
    EXPECT_EQ(named->name, row.name);
    ASSERT_EQ(named->angle.has_value(), row.angle.has_value()) << row.gate;
    if (row.angle) {
      EXPECT_NEAR(*named->angle, *row.angle, 1e-15) << row.gate;
    }
  }
  const SquareMatrix swap = gate("swap");
  for (const char* name : {"cx", "cy", "ch"}) {
    EXPECT_FALSE(named_gate(multiply(swap, multiply(gate(name), swap))))
        << name << " controlled by its second operand";
  }
  EXPECT_FALSE(named_gate(swap));
  EXPECT_FALSE(named_gate(gate("crz", {0.7})));
  EXPECT_FALSE(named_gate(gate("cu", {0.3, 0.5, 0.7, 0.9})));
  EXPECT_FALSE(named_gate(gate("ccx")));
}

}  // namespace
