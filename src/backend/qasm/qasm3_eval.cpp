#include "qasm3_eval.hpp"

#include "text.hpp"

namespace corvane::qasm3::detail {

double eval_param(std::string_view expr) { raise_not_implemented("eval_param not available yet: " + std::string(expr)); }

}  // namespace corvane::qasm3::detail
