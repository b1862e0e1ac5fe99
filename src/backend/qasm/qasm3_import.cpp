#include "qasm3_import.hpp"

#include "text.hpp"

namespace corvane::qasm3 {

GateSequence qasm3_to_gate_sequence(std::string_view) {
  detail::raise_not_implemented("import is not available in this build yet");
}

}  // namespace corvane::qasm3
