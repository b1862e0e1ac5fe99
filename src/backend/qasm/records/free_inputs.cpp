#include "qasm/records/free_inputs.hpp"

#include <algorithm>
#include <string_view>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

namespace {

// Bytes of UTF-8 sequences count as letters: lowering reads names in any script.
bool is_name_byte(unsigned char c, bool first) {
  if (c >= 0x80 || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return !first && c >= '0' && c <= '9';
}

bool is_name(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t k = 0; k < name.size(); ++k) {
    if (!is_name_byte(static_cast<unsigned char>(name[k]), k == 0)) return false;
  }
  return true;
}

bool is_float_or_angle_type(std::string_view type) {
  if (!type.starts_with("float") && !type.starts_with("angle")) return false;
  const std::string_view width = type.substr(5);
  if (width.empty()) return true;
  return width.size() > 2 && width.front() == '[' && width.back() == ']' &&
         width.substr(1, width.size() - 2).find_first_not_of("0123456789") ==
             std::string_view::npos;
}

}  // namespace

void append_input_declaration(std::string& out, const InputDecl& input) {
  if (!is_name(input.name)) raise_value_error("Free input " + quoted(input.name) + " is no name");
  if (!is_float_or_angle_type(input.type)) {
    raise_value_error("Free input '" + input.name + "' has type " + quoted(input.type) +
                      ", which is no float or angle type");
  }
  out += "input ";
  out += input.type;
  out += ' ';
  out += input.name;
  out += ";\n";
}

}  // namespace corvane::qasm3::detail
