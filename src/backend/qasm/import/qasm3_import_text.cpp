// The importer's text passes: comment removal, statement splitting, register
// declarations, statement syntax and gate-definition extraction.
//
// Every pattern is scanned by hand over the UTF-8 bytes. The literal parts of the
// patterns are ASCII, and an ASCII byte never occurs inside a multi-byte sequence, so
// byte positions stand in for character positions; the Unicode classes (\s, \w, \d,
// word boundaries) are read through the helpers of text_unicode.hpp. Each scanner follows
// the backtracking semantics of its pattern; the comments say where giving characters
// back cannot change the outcome.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <span>
#include <utility>

#include "qasm/import/qasm3_import_text.hpp"

#include "qasm/import/qasm3_eval.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::int64_t INT64_LIMIT = std::numeric_limits<std::int64_t>::max();

constexpr bool is_ascii_space(char c) noexcept {
  return (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= ' ');
}
constexpr bool is_ascii_word(char c) noexcept {
  return is_ident_start(c) || (c >= '0' && c <= '9');
}
constexpr bool is_non_ascii(char c) noexcept {
  return static_cast<unsigned char>(c) >= 0x80;
}

// Position after the \s* run at `pos`. ASCII is decided inline, the Unicode classes are
// only consulted at a non-ASCII byte: statement text is almost entirely ASCII.
std::size_t skip_spaces(std::string_view text, std::size_t pos) noexcept {
  while (pos < text.size() && is_ascii_space(text[pos]))
    ++pos;
  if (pos < text.size() && is_non_ascii(text[pos])) pos += space_run(text, pos);
  return pos;
}

bool char_at(std::string_view text, std::size_t pos, char c) noexcept {
  return pos < text.size() && text[pos] == c;
}

// Length of the identifier "[A-Za-z_]\w*" starting at `pos`, 0 when none starts there.
// \w* is greedy and what follows an identifier in every pattern here is never a word
// character, so the longest run is the only one that can lead to a match.
std::size_t identifier_length(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size() || !is_ident_start(text[pos])) return 0;
  std::size_t end = pos + 1;
  while (end < text.size() && is_ascii_word(text[end]))
    ++end;
  if (end < text.size() && is_non_ascii(text[end])) end += word_run(text, end);
  return end - pos;
}

// Calls `visit` with every comma-separated piece of `text`, trimmed (empty ones too).
template <class Visit>
void for_each_comma_piece(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    if (comma == npos) break;
    visit(trim(text.substr(start, comma - start)));
    start = comma + 1;
  }
  visit(trim(text.substr(start)));
}

// ------------------------------------------------------------------ keywords
// An ASCII keyword and the index of its rarest letter in program text, which is what
// memchr looks for: 'q' is everywhere in "q[0]", 'b' almost nowhere.
struct Keyword {
  std::string_view word;
  std::size_t anchor;
};
constexpr Keyword QUBIT_KEYWORD{"qubit", 2};
constexpr Keyword BIT_KEYWORD{"bit", 0};
constexpr Keyword GATE_KEYWORD{"gate", 0};

// A keyword begins and ends with word characters, so \b in front of it (behind it) holds
// exactly when the character before (after) it is not one. ASCII neighbours are decided
// inline: keyword candidates are frequent, non-ASCII neighbours rare.
bool word_char_before(std::string_view text, std::size_t pos) noexcept {
  if (pos == 0) return false;
  const char c = text[pos - 1];
  return is_non_ascii(c) ? is_word(decode_before(text, pos).value) : is_ascii_word(c);
}

bool word_char_at(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return false;
  const char c = text[pos];
  return is_non_ascii(c) ? is_word(decode_at(text, pos).value) : is_ascii_word(c);
}

// First position at or after `from` where "\b<keyword>" matches, and with
// `trailing_boundary` "\b<keyword>\b"; npos when there is none.
std::size_t find_keyword(std::string_view text, const Keyword& kw, std::size_t from,
                         bool trailing_boundary) noexcept {
  const char anchor_char = kw.word[kw.anchor];
  std::size_t scan = from + kw.anchor;
  while (scan < text.size()) {
    const void* hit = std::memchr(text.data() + scan, anchor_char, text.size() - scan);
    if (hit == nullptr) return npos;
    const auto anchor_pos = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    const std::size_t start = anchor_pos - kw.anchor;
    if (text.compare(start, kw.word.size(), kw.word) == 0 && !word_char_before(text, start) &&
        (!trailing_boundary || !word_char_at(text, start + kw.word.size()))) {
      return start;
    }
    scan = anchor_pos + 1;
  }
  return npos;
}

// ------------------------------------------------------------------ comments
// "//.*?$" with MULTILINE: `.` excludes only the line feed and `$` matches before it, so
// each match runs from "//" to the next line feed (a carriage return goes with it).
void append_without_line_comments(std::string& out, std::string_view code, CutMap* cuts) {
  std::size_t kept_from = 0;
  while (true) {
    const std::size_t start = code.find("//", kept_from);
    if (start == npos) break;
    out.append(code.substr(kept_from, start - kept_from));
    const std::size_t line_feed = code.find('\n', start + 2);
    kept_from = line_feed == npos ? code.size() : line_feed;
    if (cuts != nullptr) cuts->add(out.size(), kept_from);
  }
  out.append(code.substr(kept_from));
}

// "/\*.*?\*/" with DOTALL, in place: each "/*" up to the nearest "*/" after it. When a
// "/*" has no "*/" after it, no later one has either, so the scan stops there; that keeps
// it linear however many unterminated openers follow.
void remove_block_comments(std::string& text, CutMap* cuts) {
  const std::string_view view(text);
  std::size_t read = 0;
  std::size_t write = 0;
  while (true) {
    const std::size_t open = view.find("/*", read);
    if (open == npos) break;
    const std::size_t close = view.find("*/", open + 2);
    if (close == npos) break;
    if (write != read) std::memmove(text.data() + write, text.data() + read, open - read);
    write += open - read;
    read = close + 2;
    if (cuts != nullptr) cuts->add(write, read);
  }
  if (write == read) return;
  std::memmove(text.data() + write, text.data() + read, text.size() - read);
  text.resize(write + (text.size() - read));
}

// ------------------------------------------------------------------ statements
// Bytes that the statement splitter has to look at; everything else is skipped in bulk.
constexpr auto SPLITTER_BYTES = [] {
  std::array<bool, 256> table{};
  table[static_cast<unsigned char>('(')] = true;
  table[static_cast<unsigned char>(')')] = true;
  table[static_cast<unsigned char>(';')] = true;
  return table;
}();

// Calls `emit(statement, joined, piece, offset)` with each statement of the text that
// `pieces` make up when joined (trimmed, empty ones left out): the text between top-level
// semicolons. A statement inside one piece is a view into it; one that runs across pieces
// is a joined copy (`joined` true) that lives only for the call, whose first byte is at
// `offset` from the start of `pieces[piece]` in the joined text. ValueError for a ')'
// without '('.
template <class Emit>
void for_each_statement(std::span<const std::string_view> pieces, const ProgramText* program,
                        Emit&& emit) {
  std::size_t start_piece = 0;
  std::size_t start = 0;
  const auto finish = [&](std::size_t piece, std::size_t end) {
    if (piece == start_piece) {
      const std::string_view stmt = trim(pieces[piece].substr(start, end - start));
      if (!stmt.empty()) emit(stmt, false, start_piece, start);
      return;
    }
    std::string joined(pieces[start_piece].substr(start));
    for (std::size_t k = start_piece + 1; k < piece; ++k)
      joined += pieces[k];
    joined += pieces[piece].substr(0, end);
    const std::string_view stmt = trim(joined);
    const auto lead = static_cast<std::size_t>(stmt.data() - joined.data());
    if (!stmt.empty()) emit(stmt, true, start_piece, start + lead);
  };
  std::int64_t depth = 0;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const std::string_view text = pieces[p];
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (!SPLITTER_BYTES[static_cast<unsigned char>(text[i])]) continue;
      switch (text[i]) {
        case '(':
          ++depth;
          break;
        case ')':
          if (--depth < 0) {
            with_place(program, &text[i], [] { raise_value_error("Unbalanced parentheses"); });
          }
          break;
        default:  // ';'
          if (depth == 0) {
            finish(p, i);
            start_piece = p;
            start = i + 1;
          }
      }
    }
  }
  if (!pieces.empty()) finish(pieces.size() - 1, pieces.back().size());
}

// Every statement but the last ends at a ';': reserving that many up front fills a
// statement list in one pass over memory that is touched once.
std::size_t most_statements(std::span<const std::string_view> pieces) noexcept {
  std::size_t count = 1;
  for (const std::string_view piece : pieces)
    count += static_cast<std::size_t>(std::count(piece.begin(), piece.end(), ';'));
  return count;
}

// ------------------------------------------------------------------ register declarations
struct Declaration {
  std::string_view name;
  std::string_view digits;      // empty for a scalar declaration
  std::size_t end = 0;          // one past the ';'
  const char* place = nullptr;  // what an error of the declaration points at: its size or name
};

// "\s*;" then the end of the match. The caller has just read the name.
std::optional<std::size_t> match_semicolon(std::string_view text, std::size_t pos) {
  pos = skip_spaces(text, pos);
  if (!char_at(text, pos, ';')) return std::nullopt;
  return pos + 1;
}

// "\[\s*(\d+)\s*\]" at `pos`: the digits and the position after ']'. Giving digits back
// would leave a digit where \s* or ']' must match, so the greedy run is the only try.
std::optional<std::pair<std::string_view, std::size_t>> match_bracketed_number(
    std::string_view text, std::size_t pos) {
  if (!char_at(text, pos, '[')) return std::nullopt;
  pos = skip_spaces(text, pos + 1);
  const std::size_t digits = digit_run(text, pos);
  if (digits == 0) return std::nullopt;
  const std::size_t close = skip_spaces(text, pos + digits);
  if (!char_at(text, close, ']')) return std::nullopt;
  return std::pair{text.substr(pos, digits), close + 1};
}

// "\s*\[\s*(\d+)\s*\]\s*([A-Za-z_]\w*)\s*;" right after the keyword.
std::optional<Declaration> match_array_declaration(std::string_view text, std::size_t pos) {
  const auto size = match_bracketed_number(text, skip_spaces(text, pos));
  if (!size) return std::nullopt;
  const std::size_t name_pos = skip_spaces(text, size->second);
  const std::size_t name_len = identifier_length(text, name_pos);
  if (name_len == 0) return std::nullopt;
  const auto end = match_semicolon(text, name_pos + name_len);
  if (!end) return std::nullopt;
  return Declaration{text.substr(name_pos, name_len), size->first, *end, size->first.data()};
}

// "\s+([A-Za-z_]\w*)\s*;" right after the keyword.
std::optional<Declaration> match_scalar_declaration(std::string_view text, std::size_t pos) {
  const std::size_t spaces = space_run(text, pos);
  if (spaces == 0) return std::nullopt;
  const std::size_t name_pos = pos + spaces;
  const std::size_t name_len = identifier_length(text, name_pos);
  if (name_len == 0) return std::nullopt;
  const auto end = match_semicolon(text, name_pos + name_len);
  if (!end) return std::nullopt;
  return Declaration{text.substr(name_pos, name_len), {}, *end, text.data() + name_pos};
}

struct DeclarationMatches {
  std::vector<Declaration> arrays;
  std::vector<Declaration> scalars;
};

// All matches of the array pattern and, independently, of the scalar pattern, each left
// to right without overlap, in one walk over the keyword's occurrences. The two patterns
// never match at the same place (one needs '[' where the other needs a letter).
DeclarationMatches find_declarations(std::string_view code, const Keyword& keyword) {
  DeclarationMatches found;
  std::size_t arrays_from = 0;
  std::size_t scalars_from = 0;
  for (std::size_t at = find_keyword(code, keyword, 0, false); at != npos;
       at = find_keyword(code, keyword, at + 1, false)) {
    const std::size_t after = at + keyword.word.size();
    if (at >= arrays_from) {
      if (auto decl = match_array_declaration(code, after)) {
        arrays_from = decl->end;
        found.arrays.push_back(*decl);
        continue;
      }
    }
    if (at >= scalars_from) {
      if (auto decl = match_scalar_declaration(code, after)) {
        scalars_from = decl->end;
        found.scalars.push_back(*decl);
      }
    }
  }
  return found;
}

std::int64_t declared_size(std::string_view digits) {
  const auto size = read_decimal_digits(digits);
  if (!size) raise_value_error("Register size too large: " + std::string(digits));
  return *size;
}

Registers extract_registers(std::string_view code, const Keyword& keyword,
                            const ProgramText* program) {
  const DeclarationMatches found = find_declarations(code, keyword);
  RegisterLayout layout;
  layout.reserve(found.arrays.size() + found.scalars.size());
  for (const Declaration& decl : found.arrays) {
    with_place(program, decl.place,
               [&] { layout.add_array(decl.name, declared_size(decl.digits)); });
  }
  for (const Declaration& decl : found.scalars)
    with_place(program, decl.place, [&] { layout.add_scalar(decl.name); });
  return std::move(layout).take();
}

// "<name>\s*\[\s*(\d+)\s*\]" tried at increasing positions. The outcome after the name
// depends only on where the name ends; two small caches (the last whitespace run and the
// last '[' tried) keep a name that itself ends in whitespace from rescanning a long run
// for every occurrence inside it.
class IndexedUseMatcher {
 public:
  explicit IndexedUseMatcher(std::string_view text) : text_(text) {}

  // The digits and the end of the match for a name ending at `pos`.
  std::optional<std::pair<std::string_view, std::size_t>> match_after_name(std::size_t pos) {
    if (pos < run_from_ || pos > run_to_) {
      run_from_ = pos;
      run_to_ = skip_spaces(text_, pos);
    }
    if (run_to_ != bracket_at_) {
      bracket_at_ = run_to_;
      bracket_match_ = match_bracketed_number(text_, run_to_);
    }
    return bracket_match_;
  }

 private:
  std::string_view text_;
  std::size_t run_from_ = npos;
  std::size_t run_to_ = npos;
  std::size_t bracket_at_ = npos;
  std::optional<std::pair<std::string_view, std::size_t>> bracket_match_;
};

// ------------------------------------------------------------------ statement syntax
// The modifier word "ctrl" or "negctrl" at the start of `text`, with its length.
std::optional<std::pair<Modifier, std::size_t>> leading_modifier_word(std::string_view text) {
  if (text.starts_with("ctrl")) return std::pair{Modifier::Ctrl, std::size_t{4}};
  if (text.starts_with("negctrl")) return std::pair{Modifier::Negctrl, std::size_t{7}};
  return std::nullopt;
}

// Position of the ')' that closes the '(' at the start of `text`; npos when none does.
std::size_t matching_paren(std::string_view text) noexcept {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') {
      ++depth;
    } else if (text[i] == ')' && --depth == 0) {
      return i;
    }
  }
  return npos;
}

void evaluate_params(std::string_view inside, std::vector<double>& params,
                     const StatementOrigin* origin) {
  params.clear();
  if (inside.empty()) return;
  for_each_comma_piece(inside, [&](std::string_view piece) {
    if (origin == nullptr) {
      params.push_back(eval_param(piece));
    } else {
      params.push_back(origin->at(piece.data(), [piece] { return eval_param(piece); }));
    }
  });
}

void split_operands(std::string_view rest, std::vector<std::string_view>& operands) {
  operands.clear();
  if (rest.empty()) return;
  for_each_comma_piece(rest, [&](std::string_view piece) {
    if (!piece.empty()) operands.push_back(piece);
  });
}

// ------------------------------------------------------------------ gate definitions
constexpr std::string_view TOO_MANY_ITERATIONS =
    "Too many iterations while parsing gate definitions \u2014 possible malformed QASM.";

std::int64_t brace_balance(std::string_view stretch) noexcept {
  std::int64_t opened = 0;
  std::int64_t closed = 0;
  for (const char c : stretch) {
    opened += static_cast<std::int64_t>(c == '{');
    closed += static_cast<std::int64_t>(c == '}');
  }
  return opened - closed;
}

// Finds the first brace of either kind at or after a position. Header matches ask with
// non-decreasing positions, so remembering the last answer keeps "gate a " followed by
// long brace-free stretches linear instead of rescanning them for every keyword.
class BraceFinder {
 public:
  explicit BraceFinder(std::string_view text) : text_(text) {}

  std::size_t first_from(std::size_t pos) noexcept {
    if (pos >= asked_ && pos <= found_) return found_;
    asked_ = pos;
    found_ = npos;
    for (std::size_t i = pos; i < text_.size(); ++i) {
      if (text_[i] == '{' || text_[i] == '}') {
        found_ = i;
        break;
      }
    }
    return found_;
  }

 private:
  std::string_view text_;
  std::size_t asked_ = npos;
  std::size_t found_ = npos;
};

struct GateHeader {
  std::string_view name;
  std::string_view args;  // trimmed
  std::size_t open_brace = 0;
};

// "\bgate\s+([A-Za-z_]\w*)\s+([^{}]*?)\s*\{" anchored at `start` (the keyword, whose
// leading boundary the caller has checked). The name is the whole word run and must be
// followed by whitespace. The lazy group cannot cross a brace, so the match exists
// exactly when the first brace after the whitespace is '{'; the group is then everything
// up to it less the trailing whitespace, and the caller trims it anyway.
std::optional<GateHeader> match_gate_header(std::string_view code, std::size_t start,
                                            BraceFinder& braces) {
  const std::size_t after_keyword = start + GATE_KEYWORD.word.size();
  const std::size_t name_pos = after_keyword + space_run(code, after_keyword);
  if (name_pos == after_keyword) return std::nullopt;
  const std::size_t name_len = identifier_length(code, name_pos);
  if (name_len == 0) return std::nullopt;
  const std::size_t name_end = name_pos + name_len;
  const std::size_t args_pos = name_end + space_run(code, name_end);
  if (args_pos == name_end) return std::nullopt;
  const std::size_t brace = braces.first_from(args_pos);
  if (brace == npos || code[brace] != '{') return std::nullopt;
  return GateHeader{code.substr(name_pos, name_len), trim(code.substr(args_pos, brace - args_pos)),
                    brace};
}

// Position of the '}' that closes the '{' at `open`; npos when none does.
std::size_t closing_brace(std::string_view code, std::size_t open) noexcept {
  std::size_t depth = 0;
  for (std::size_t i = open; i < code.size(); ++i) {
    if (code[i] == '{') {
      ++depth;
    } else if (code[i] == '}' && --depth == 0) {
      return i;
    }
  }
  return npos;
}

std::vector<std::string> to_strings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

std::vector<std::size_t> offsets_in(std::string_view code,
                                    const std::vector<std::string_view>& views) {
  std::vector<std::size_t> offsets;
  offsets.reserve(views.size());
  for (const std::string_view view : views)
    offsets.push_back(static_cast<std::size_t>(view.data() - code.data()));
  return offsets;
}

}  // namespace

// ------------------------------------------------------------------ source preprocessing

namespace {

std::string strip_comments(std::string_view code, CutMap* line_cuts, CutMap* block_cuts) {
  std::string out;
  reserve_for_filling(out, code.size());
  append_without_line_comments(out, code, line_cuts);
  remove_block_comments(out, block_cuts);
  return out;
}

// Both comment forms open with '/' followed by '/' or '*'; text without such a pair
// comes out of strip_comments unchanged, so it need not be copied.
bool has_comments(std::string_view code) noexcept {
  for (std::size_t slash = code.find('/'); slash != npos; slash = code.find('/', slash + 1)) {
    if (slash + 1 < code.size() && (code[slash + 1] == '/' || code[slash + 1] == '*')) return true;
  }
  return false;
}

}  // namespace

// ------------------------------------------------------------------ places

std::size_t CutMap::source_of(std::size_t derived) const noexcept {
  // The last cut at or before `derived`: a byte right at a cut is the one after it.
  const auto after = std::upper_bound(anchors_.begin(), anchors_.end(), derived,
                                      [](std::size_t d, const Anchor& a) { return d < a.derived; });
  if (after == anchors_.begin()) return derived;
  const Anchor& anchor = *(after - 1);
  return anchor.source + (derived - anchor.derived);
}

ProgramText::ProgramText(std::string_view program) : program_(program), read_(program) {
  if (has_comments(program)) {
    stripped_ = strip_comments(program, &line_comments_, &block_comments_);
    read_ = stripped_;
  }
}

Location ProgramText::locate_read(std::size_t read_offset) const noexcept {
  return locate(program_, line_comments_.source_of(block_comments_.source_of(read_offset)));
}

Location StatementOrigin::place_of(const char* at) const noexcept {
  const std::size_t position = base_offset + static_cast<std::size_t>(at - base);
  return program->locate_read(gaps != nullptr ? gaps->source_of(position) : position);
}

// ------------------------------------------------------------------ source preprocessing

std::string strip_comments(std::string_view code) {
  return strip_comments(code, nullptr, nullptr);
}

std::string_view without_comments(std::string_view code, std::string& storage) {
  if (!has_comments(code)) return code;
  storage = strip_comments(code);
  return storage;
}

std::vector<std::string_view> split_statements(std::string_view body, const ProgramText* program) {
  const std::span<const std::string_view> pieces(&body, 1);
  std::vector<std::string_view> statements;
  reserve_for_filling(statements, most_statements(pieces));
  for_each_statement(pieces, program,
                     [&](std::string_view stmt, auto&&...) { statements.push_back(stmt); });
  return statements;
}

StatementList::StatementList(std::string_view program, const std::vector<std::string_view>& pieces,
                             const ProgramText* places)
    : program_(program), places_(places), use_spans_(program.size() < JOINED) {
  const std::size_t most = most_statements(pieces);
  if (use_spans_) {
    reserve_for_filling(spans_, most);
  } else {
    reserve_for_filling(views_, most);
  }
  // Each piece continues the main text where the text read has it.
  std::size_t main_offset = 0;
  for (const std::string_view piece : pieces) {
    gaps_.add(main_offset, static_cast<std::size_t>(piece.data() - program.data()));
    main_offset += piece.size();
  }
  std::size_t piece_main_offset = 0;  // of the piece the current statement starts in
  std::size_t last_start_piece = 0;
  for_each_statement(
      pieces, places,
      [&](std::string_view stmt, bool joined, std::size_t start_piece, std::size_t start) {
        if (joined) {
          for (; last_start_piece < start_piece; ++last_start_piece)
            piece_main_offset += pieces[last_start_piece].size();
          joined_.push_back({std::string(stmt), piece_main_offset + start});
          if (!use_spans_) {
            views_.push_back(joined_.back().text);
            return;
          }
          spans_.push_back({static_cast<std::uint32_t>(joined_.size() - 1), JOINED});
        } else if (use_spans_) {
          spans_.push_back({static_cast<std::uint32_t>(stmt.data() - program.data()),
                            static_cast<std::uint32_t>(stmt.size())});
        } else {
          views_.push_back(stmt);
        }
      });
}

std::size_t StatementList::size() const noexcept {
  return use_spans_ ? spans_.size() : views_.size();
}

std::string_view StatementList::operator[](std::size_t k) const noexcept {
  if (!use_spans_) return views_[k];
  const Span span = spans_[k];
  if (span.length == JOINED) return joined_[span.offset].text;
  return program_.substr(span.offset, span.length);
}

StatementOrigin StatementList::joined_or_view_origin(std::size_t k) const noexcept {
  const char* const begin = use_spans_ ? nullptr : views_[k].data();
  // std::less orders pointers into different objects too.
  const std::less<const char*> before;
  if (use_spans_
          ? spans_[k].length != JOINED
          : !before(begin, program_.data()) && !before(program_.data() + program_.size(), begin)) {
    return {places_, program_.data(), 0, nullptr};
  }
  const Joined* joined = use_spans_ ? &joined_[spans_[k].offset] : nullptr;
  for (std::size_t j = 0; joined == nullptr; ++j) {
    if (joined_[j].text.data() == begin) joined = &joined_[j];
  }
  return {places_, joined->text.data(), joined->main_offset, &gaps_};
}

// ------------------------------------------------------------------ register declarations

Registers extract_qubit_registers(std::string_view code, const ProgramText* program) {
  return extract_registers(code, QUBIT_KEYWORD, program);
}

Registers extract_bit_registers(std::string_view code, const ProgramText* program) {
  return extract_registers(code, BIT_KEYWORD, program);
}

std::int64_t compute_n_qubits_from_body(std::string_view code, std::string_view qreg_name,
                                        const ProgramText* program) {
  IndexedUseMatcher matcher(code);
  std::int64_t largest = 0;
  std::size_t from = 0;
  while (from <= code.size()) {
    const std::size_t at = code.find(qreg_name, from);
    if (at == npos) break;
    const auto use = matcher.match_after_name(at + qreg_name.size());
    if (!use) {
      from = at + 1;
      continue;
    }
    const auto index = read_decimal_digits(use->first);
    if (!index || *index == INT64_LIMIT) {
      with_place(program, use->first.data(),
                 [&] { raise_value_error("Qubit index too large: " + std::string(use->first)); });
    }
    if (*index > largest) largest = *index;
    from = use->second;
  }
  return largest > 0 ? largest + 1 : 1;
}

// ------------------------------------------------------------------ statement syntax

// "^(ctrl|negctrl)\s*@\s*(.*)$" with DOTALL, repeated: `(.*)$` takes the whole rest, so
// each round only needs the word, optional whitespace, '@' and the whitespace after it.
ModifierPrefix parse_modifiers_prefix(std::string_view s) {
  ModifierPrefix result;
  parse_modifiers_prefix(s, result);
  return result;
}

void parse_modifiers_prefix(std::string_view s, ModifierPrefix& out) {
  out.mods.clear();
  std::string_view rest = trim(s);
  while (const auto word = leading_modifier_word(rest)) {
    const std::size_t at = skip_spaces(rest, word->second);
    if (!char_at(rest, at, '@')) break;
    out.mods.push_back(word->first);
    rest = rest.substr(skip_spaces(rest, at + 1));
  }
  out.rest = rest;
}

OpCall parse_op_and_args(std::string_view s) {
  OpCall call;
  parse_op_and_args(s, call);
  return call;
}

void parse_op_and_args(std::string_view s, OpCall& call, const StatementOrigin* origin) {
  const std::string_view stmt = trim(s);
  const std::size_t op_len = identifier_length(stmt, 0);
  if (op_len == 0) raise_value_error("Cannot parse op name from: " + quoted(stmt));
  call.op = stmt.substr(0, op_len);
  std::string_view rest = stmt.substr(skip_spaces(stmt, op_len));
  if (rest.starts_with('(')) {
    const std::size_t close = matching_paren(rest);
    if (close == npos) raise_value_error("Unclosed parameter list in: " + quoted(stmt));
    if (!call.params) call.params.emplace();
    evaluate_params(trim(rest.substr(1, close - 1)), *call.params, origin);
    rest = trim(rest.substr(close + 1));
  } else {
    call.params.reset();
  }
  split_operands(rest, call.operands);
}

std::vector<std::string> parse_ident_list(std::string_view s, const ProgramText* program) {
  std::vector<std::string> idents;
  for_each_comma_piece(s, [&](std::string_view piece) {
    if (piece.empty()) return;
    if (!is_identifier(piece)) {
      with_place(program, piece.data(),
                 [piece] { raise_value_error("Invalid identifier: " + quoted(piece)); });
    }
    idents.emplace_back(piece);
  });
  return idents;
}

// ------------------------------------------------------------------ gate definitions

DefinitionScan scan_gate_defs(std::string_view code, const ProgramText* program) {
  DefinitionScan result;
  BraceFinder braces(code);
  std::size_t scan = 0;
  std::size_t kept_from = 0;  // start of the main text not yet taken
  std::int64_t balance = 0;
  int iterations = 0;
  while (true) {
    if (++iterations > MAX_ITER) raise_runtime_error(std::string(TOO_MANY_ITERATIONS));
    const std::size_t start = find_keyword(code, GATE_KEYWORD, scan, true);
    if (start == npos) break;
    // Only the stretches the scan passes over count; each byte is counted at most once.
    balance += brace_balance(code.substr(scan, start - scan));
    const auto header = balance == 0 ? match_gate_header(code, start, braces) : std::nullopt;
    if (!header) {
      scan = start + GATE_KEYWORD.word.size();
      continue;
    }
    std::vector<std::string> args = parse_ident_list(header->args, program);
    const std::size_t close = closing_brace(code, header->open_brace);
    if (close == npos) {
      with_place(program, &code[header->open_brace],
                 [&] { raise_value_error("Unclosed gate body for " + std::string(header->name)); });
    }
    const std::string_view body =
        code.substr(header->open_brace + 1, close - header->open_brace - 1);
    std::string name(header->name);
    const std::vector<std::string_view> stmts = split_statements(body, program);
    GateDef def{name, std::move(args), to_strings(stmts), offsets_in(code, stmts)};
    result.defs.insert_or_assign(std::move(name), std::move(def));
    result.main_pieces.push_back(code.substr(kept_from, start - kept_from));
    kept_from = close + 1;
    scan = close + 1;
  }
  result.main_pieces.push_back(code.substr(kept_from));
  return result;
}

ExtractedDefs extract_gate_defs(std::string_view code) {
  DefinitionScan scan = scan_gate_defs(code);
  ExtractedDefs result{std::move(scan.defs), {}};
  for (const std::string_view piece : scan.main_pieces)
    result.main_text += piece;
  return result;
}

}  // namespace corvane::qasm3::detail
