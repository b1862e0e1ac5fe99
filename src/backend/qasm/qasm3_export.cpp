#include "qasm3_export.hpp"

#include "text.hpp"

namespace corvane::qasm3 {

std::string gate_sequence_to_qasm3(const GateSequence&, std::string_view, std::string_view, std::optional<std::int64_t>, const std::optional<RegisterList>&, const std::optional<RegisterList>&) {
  detail::raise_not_implemented("export is not available in this build yet");
}

}  // namespace corvane::qasm3
