// The expander's names, scopes and symbols, and the places its errors are reported at.
#include "qasm/lower/expander.hpp"

#include <string>

namespace corvane::qasm3::detail::lower::expansion {

// ---------------------------------------------------------------- errors

std::optional<Location> Expander::location_of(const Place& place) {
  if (place.program->origin == Origin::LIBRARY) return std::nullopt;
  Location where = locate(place.program->text, place.offset);
  where.file = place.program->file;
  return where;
}

void Expander::fail_value(std::size_t offset, const std::string& message) const {
  fail(offset, raise_value_error, message);
}

void Expander::fail_unsupported(std::size_t offset, const std::string& message) const {
  fail(offset, raise_not_implemented, message);
}

void Expander::fail_too_long(std::size_t offset) const {
  fail_value(offset,
             "The lowered program would exceed " + std::to_string(max_statements_) + " statements");
}

// ---------------------------------------------------------------- scopes

void Expander::declare(std::string_view name, std::size_t offset, Symbol symbol) {
  auto& symbols = scopes_.back().symbols;
  ++declarations_;
  if (!symbols.emplace(name, std::move(symbol)).second) {
    fail_value(offset, "'" + std::string(name) + "' is already declared");
  }
}

void Expander::require_global_scope(const Stmt& stmt, std::string_view what) {
  if (scopes_.size() != 1) fail_value(stmt.offset, std::string(what) + " in the global scope");
}

Expr Expander::name_of(std::string_view name) {
  Expr node;
  node.kind = ExprKind::NAME;
  node.text = name;
  return node;
}

bool Expander::declared_before(std::size_t scope, std::string_view name) const {
  for (std::size_t k = scopes_.size(); k-- > 0;) {
    if (scopes_[k].symbols.contains(name)) return k < scope;
    if (scopes_[k].boundary && k > 0) {
      if (in_library()) return false;
      k = 1;  // the global scope next, as find_symbol looks
    }
  }
  return false;
}

}  // namespace corvane::qasm3::detail::lower::expansion
