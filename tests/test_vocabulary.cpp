// The vocabulary tables: what each is for, rather than their rows again.
#include <optional>
#include <string_view>

#include "qasm/records/qasm3_vocabulary.hpp"
#include "test_support.hpp"

namespace {

using namespace corvane::qasm3::detail;

std::string_view exported_name(std::string_view id) {
  return lookup(INT_TO_QASM3, id).value_or(id);
}

// A name the exporter writes reads back to an id that it writes under that name again,
// which the fixed point of export, import and export again rests on.
TEST(Vocabulary, EveryExportedNameReadsBackToAnIdExportedAsIt) {
  for (const auto& [id, name] : INT_TO_QASM3) {
    const std::optional<std::string_view> back = lookup(QASM3_TO_INT, name);
    ASSERT_TRUE(back.has_value()) << name;
    EXPECT_EQ(exported_name(*back), name) << id << " -> " << name << " -> " << *back;
  }
}

// The non-standard gates are written with a definition, whose body each has.
TEST(Vocabulary, NonStandardIdsHaveBodies) {
  for (const std::string_view id : NON_STANDARD) {
    EXPECT_NE(non_standard_body(id), nullptr) << id;
  }
  EXPECT_EQ(non_standard_body("h"), nullptr);
}

TEST(Vocabulary, LookupsMatchWholeNamesExactly) {
  EXPECT_EQ(lookup(QASM3_TO_INT, "phase"), "p");
  EXPECT_EQ(lookup(QASM3_TO_INT, "Rx"), std::nullopt);
  EXPECT_EQ(lookup(QASM3_TO_INT, "r"), std::nullopt);
  EXPECT_EQ(lookup(QASM3_TO_INT, ""), std::nullopt);
  EXPECT_EQ(lookup(COMPACT_CONTROL_TARGET_ARITY, "cswap"), 2);
  EXPECT_TRUE(contains(SINGLE_QUBIT_OPS, "U"));
  EXPECT_FALSE(contains(SINGLE_QUBIT_OPS, "u"));
}

}  // namespace
