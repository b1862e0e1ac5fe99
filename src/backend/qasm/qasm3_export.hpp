// The exporter's internals: register layout, names and parameters, the definition
// accumulator and statement emission.
#pragma once

namespace corvane::qasm3::detail {}  // namespace corvane::qasm3::detail
