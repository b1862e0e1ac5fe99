// Where the fixed importer reads a program otherwise than lowering does: the constructs
// lowering drops or spells out, and the valid programs the importer reads otherwise than
// the language (the list in docs/lowering.md). fuzz_lower compares the two imports everywhere else.
// The program is looked at as tokens, so that a name inside another name, or in a
// comment, does not count.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "qasm/text/text.hpp"

namespace corvane::fuzz {

// ------------------------------------------------------------------ tokens
// The program as words (names, numbers, keywords) and single punctuation characters, with
// its comments left out: enough to tell the constructs apart that the importer reads
// otherwise, without mistaking a name inside another or a comment for one. Words are
// separated by whatever whitespace both readers skip (\v, \f and Unicode spaces too).
struct Token {
  std::string_view text;
  bool word;
};
using Tokens = std::vector<Token>;

inline bool is_word_byte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' ||
         u == '.' || u >= 0x80;
}

inline Tokens tokens_of(std::string_view text) {
  Tokens tokens;
  std::size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (text.substr(at, 2) == "//") {
      at = std::min(text.size(), text.find('\n', at));
    } else if (text.substr(at, 2) == "/*") {
      const std::size_t end = text.find("*/", at + 2);
      at = end == std::string_view::npos ? text.size() : end + 2;
    } else if (const std::size_t blank = qasm3::detail::space_run(text, at); blank > 0) {
      at += blank;
    } else if (is_word_byte(c)) {
      const std::size_t start = at;
      const bool number = (c >= '0' && c <= '9') || c == '.';
      while (at < text.size() && is_word_byte(text[at]) &&
             qasm3::detail::space_run(text, at) == 0) {
        ++at;
        // A number's exponent sign belongs to the number: 1e-300.
        const bool exponent = number && (text[at - 1] == 'e' || text[at - 1] == 'E');
        if (exponent && at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
      }
      tokens.push_back({text.substr(start, at - start), true});
    } else {
      tokens.push_back({text.substr(at, 1), false});
      ++at;
    }
  }
  return tokens;
}

inline bool is(const Tokens& tokens, std::size_t k, std::string_view text) {
  return k < tokens.size() && tokens[k].text == text;
}

template <std::size_t N>
inline bool one_of(std::string_view text, const std::string_view (&names)[N]) {
  return std::find(std::begin(names), std::end(names), text) != std::end(names);
}

// The place after the bracketed group that opens at `k` (`(`, `[` or `{`), or the end.
inline std::size_t after_group(const Tokens& tokens, std::size_t k) {
  const std::string_view open = tokens[k].text;
  const std::string_view close = open == "(" ? ")" : open == "[" ? "]" : "}";
  int depth = 0;
  for (; k < tokens.size(); ++k) {
    if (tokens[k].text == open) ++depth;
    if (tokens[k].text == close && --depth == 0) return k + 1;
  }
  return tokens.size();
}

// Whether tokens [begin, end) are one number literal of value zero.
inline bool is_literal_zero(const Tokens& tokens, std::size_t begin, std::size_t end) {
  if (end != begin + 1 || !tokens[begin].word) return false;
  double value = 1;
  const std::string_view text = tokens[begin].text;
  const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && rest == text.data() + text.size() && value == 0;
}

// ------------------------------------------------------------------ read otherwise
// Constructs that lowering drops or spells out, or that the importer takes for something
// else: barriers, delays, nops and pragmas (the importer takes `nop q` and `pragma q` for
// gate calls), OpenQASM 2 declarations (calls of gates `qreg` and `creg` to the importer),
// and the gates of the standard libraries that the importer does not know.
inline bool names_a_construct_read_otherwise(const Tokens& tokens) {
  static constexpr std::string_view NAMES[] = {
      "barrier", "delay", "nop",  "pragma", "qreg", "creg",    "u0",  "u1",
      "u2",      "u3",    "CX",   "cphase", "cu1",  "cu3",     "csx", "rxx",
      "rzz",     "sxdg",  "rccx", "rc3x",   "c3x",  "c3sqrtx", "c4x"};
  return std::any_of(tokens.begin(), tokens.end(),
                     [](const Token& token) { return token.word && one_of(token.text, NAMES); });
}

// Any division: the importer divides every number as a double, lowering divides integers
// as integers.
inline bool divides(const Tokens& tokens) {
  return std::any_of(tokens.begin(), tokens.end(),
                     [](const Token& token) { return token.text == "/"; });
}

// A bit declaration with an initialiser (`bit[2] c = measure q;`): the importer skips the
// whole statement, lowering declares and measures.
inline bool initialises_bits(const Tokens& tokens) {
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].text != "bit") continue;
    for (std::size_t next = k + 1; next < tokens.size() && tokens[next].text != ";"; ++next) {
      if (tokens[next].text == "=") return true;
    }
  }
  return false;
}

// A register size written otherwise than in decimal digits (`qubit[3_01] q;`,
// `bit[0x2] c;`, `qubit[1+1] q;`): the importer skips the declaration, lowering reads the
// size as the language does.
inline bool sizes_a_register_otherwise_than_in_digits(const Tokens& tokens) {
  for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
    if ((tokens[k].text != "qubit" && tokens[k].text != "bit") || tokens[k + 1].text != "[") {
      continue;
    }
    const std::size_t end = after_group(tokens, k + 1);
    const std::string_view size = k + 2 < tokens.size() ? tokens[k + 2].text : "";
    if (end != k + 4 || size.find_first_not_of("0123456789") != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// A register of no qubits (`qubit[0] q;`): the importer sizes it from its uses and reads
// `h q;` as a gate on q[0], lowering applies nothing.
inline bool declares_an_empty_register(const Tokens& tokens) {
  for (std::size_t k = 0; k + 3 < tokens.size(); ++k) {
    if ((tokens[k].text == "qubit" || tokens[k].text == "bit") && tokens[k + 1].text == "[" &&
        is_literal_zero(tokens, k + 2, k + 3) && tokens[k + 3].text == "]") {
      return true;
    }
  }
  return false;
}

// The standard gates whose names hold controls: the importer reads a name of these as
// that gate with its controls, and loses one where a modifier adds another.
constexpr std::string_view CONTROLLED_NAMES[] = {"cx",  "cy",  "cz",  "ch", "cnot", "cp",
                                                 "crx", "cry", "crz", "cu", "ccx",  "cswap"};

// A definition named like a standard gate with a control: the importer keeps that gate's
// controls (`gate cx a, b { ... }` is called with a control), lowering does not.
inline bool redefines_a_controlled_name(const Tokens& tokens) {
  for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
    if (tokens[k].text == "gate" && one_of(tokens[k + 1].text, CONTROLLED_NAMES)) return true;
  }
  return false;
}

// A definition whose name is called before it or in its own body: the importer gives those
// calls to the definition too, the language to the standard gate of that name (lowering
// refuses any other name called before its definition).
inline bool calls_a_name_before_defining_it(const Tokens& tokens) {
  for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
    if (tokens[k].text != "gate" || !tokens[k + 1].word) continue;
    const std::string_view name = tokens[k + 1].text;
    std::size_t body = k + 2;
    while (body < tokens.size() && tokens[body].text != "{")
      ++body;
    const std::size_t end = body < tokens.size() ? after_group(tokens, body) : body;
    for (std::size_t use = 0; use < end; ++use) {
      if (use != k + 1 && (use < k || use > body) && tokens[use].text == name) return true;
    }
  }
  return false;
}

// The definitions whose gates apply `U`, directly or through other definitions: the
// importer reads `U` as the gate model's `u`, without the phase e^{iθ/2} that the language
// gives it, which a control makes observable.
inline std::set<std::string_view> definitions_applying_u(const Tokens& tokens) {
  std::map<std::string_view, std::pair<std::size_t, std::size_t>> bodies;
  for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
    if (tokens[k].text != "gate" || !tokens[k + 1].word) continue;
    std::size_t open = k + 2;
    while (open < tokens.size() && tokens[open].text != "{")
      ++open;
    if (open < tokens.size()) bodies[tokens[k + 1].text] = {open, after_group(tokens, open)};
  }
  std::set<std::string_view> applying{"U"};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [name, body] : bodies) {
      if (applying.contains(name)) continue;
      for (std::size_t k = body.first; k < body.second; ++k) {
        if (tokens[k].word && applying.contains(tokens[k].text)) {
          applying.insert(name);
          grew = true;
          break;
        }
      }
    }
  }
  return applying;
}

// The gate that the modifier at `k` (`ctrl`, `negctrl`, `inv`, `pow`) ends up modifying.
inline std::string_view modified_gate(const Tokens& tokens, std::size_t k) {
  static constexpr std::string_view MODIFIERS[] = {"ctrl", "negctrl", "inv", "pow"};
  while (k < tokens.size() && one_of(tokens[k].text, MODIFIERS)) {
    ++k;
    if (is(tokens, k, "(")) k = after_group(tokens, k);
    if (!is(tokens, k, "@")) return {};
    ++k;
  }
  return k < tokens.size() ? tokens[k].text : std::string_view{};
}

// `ctrl @` or `negctrl @` on a gate whose meaning the importer does not keep under one
// more control: a compact controlled name (its own control is lost), `U` or a definition
// that applies it (U's phase is lost).
inline bool controls_what_the_importer_cannot(const Tokens& tokens) {
  const std::set<std::string_view> applying_u = definitions_applying_u(tokens);
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].text != "ctrl" && tokens[k].text != "negctrl") continue;
    const std::string_view gate = modified_gate(tokens, k);
    if (one_of(gate, CONTROLLED_NAMES) || applying_u.contains(gate)) return true;
  }
  return false;
}

// `cu` with a fourth angle that is not a literal zero: the importer leaves that phase out.
inline bool calls_cu_with_a_phase(const Tokens& tokens) {
  for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
    if (tokens[k].text != "cu" || tokens[k + 1].text != "(") continue;
    const std::size_t end = after_group(tokens, k + 1);
    std::vector<std::size_t> commas;
    int depth = 0;
    for (std::size_t inside = k + 2; inside + 1 < end; ++inside) {
      const std::string_view t = tokens[inside].text;
      if (t == "(" || t == "[" || t == "{") ++depth;
      if (t == ")" || t == "]" || t == "}") --depth;
      if (t == "," && depth == 0) commas.push_back(inside);
    }
    if (commas.size() == 3 && !is_literal_zero(tokens, commas[2] + 1, end - 1)) return true;
  }
  return false;
}

// A `//` inside a block comment: the importer removes line comments first, so the `//` cuts
// off the rest of its line with the `*/`, and the block comment runs on to the next `*/`
// (`/* a // b */ cx q[0],/**/q[1];` loses `cx q[0],`); the language ends it at its own.
inline bool line_comment_inside_a_block_comment(std::string_view text) {
  std::size_t at = 0;
  while (at + 1 < text.size()) {
    if (text.substr(at, 2) == "//") {
      at = text.find('\n', at);
      if (at == std::string_view::npos) return false;
    } else if (text.substr(at, 2) == "/*") {
      const std::size_t end = text.find("*/", at + 2);
      if (text.substr(at + 2, end - (at + 2)).find("//") != std::string_view::npos) return true;
      if (end == std::string_view::npos) return false;
      at = end + 2;
    } else {
      ++at;
    }
  }
  return false;
}

// Where lowering reads a program differently from the importer by design (docs/lowering.md's
// list): the importer then imports another circuit, or nothing, where lowering follows
// the language.
inline bool importer_reads_otherwise(std::string_view text) {
  if (line_comment_inside_a_block_comment(text)) return true;
  const Tokens tokens = tokens_of(text);
  return names_a_construct_read_otherwise(tokens) || divides(tokens) || initialises_bits(tokens) ||
         sizes_a_register_otherwise_than_in_digits(tokens) || declares_an_empty_register(tokens) ||
         redefines_a_controlled_name(tokens) || controls_what_the_importer_cannot(tokens) ||
         calls_cu_with_a_phase(tokens) || calls_a_name_before_defining_it(tokens);
}

}  // namespace corvane::fuzz
