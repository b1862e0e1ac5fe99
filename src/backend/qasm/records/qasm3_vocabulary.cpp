#include "qasm/records/qasm3_vocabulary.hpp"

namespace corvane::qasm3::detail {

const NonStandardBody* non_standard_body(std::string_view id) {
  for (const NonStandardBody& body : NON_STANDARD_BODIES) {
    if (body.id == id) return &body;
  }
  return nullptr;
}

}  // namespace corvane::qasm3::detail
