#include "qasm/lower/include_files.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "qasm/lower/gate_library.hpp"
#include "qasm/lower/lexer.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

namespace {

constexpr std::string_view INCLUDE_KEYWORD = "include";
// Some editors start a UTF-8 file with it; it is no part of the text.
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// Whether `text` may include a file other than the standard libraries. Most programs
// include only those, and so need no pass of the lexer to find what they include; any
// "include" not followed by blanks and a library's quoted name may be an include.
bool may_include_files(std::string_view text) {
  for (std::size_t at = text.find(INCLUDE_KEYWORD); at != std::string_view::npos;
       at = text.find(INCLUDE_KEYWORD, at + 1)) {
    std::size_t name = at + INCLUDE_KEYWORD.size();
    while (name < text.size() &&
           (text[name] == ' ' || text[name] == '\t' || text[name] == '\n' || text[name] == '\r')) {
      ++name;
    }
    if (name == text.size() || (text[name] != '"' && text[name] != '\'')) return true;
    const std::size_t end = text.find(text[name], name + 1);
    if (end == std::string_view::npos || !library_source(text.substr(name + 1, end - name - 1))) {
      return true;
    }
  }
  return false;
}

// The folder that names in the text of `includer_path` are looked for in first.
std::string folder_of(std::string_view includer_path) {
  return std::filesystem::path(includer_path).parent_path().string();
}

std::string joined(const std::string& folder, std::string_view name) {
  return (std::filesystem::path(folder) / std::filesystem::path(name)).string();
}

}  // namespace

IncludeFiles::IncludeFiles(IncludeSearch search)
    : program_path_(search.program_path), folders_(search.folders.begin(), search.folders.end()) {
  struct stat status {};
  if (!program_path_.empty() && ::stat(program_path_.c_str(), &status) == 0) {
    program_identity_ = Identity{status.st_dev, status.st_ino};
  }
}

// The places are tried in order; the first that holds a regular file of that name is
// taken. A name holding a NUL byte names no file: the system would read only its start.
IncludedFile& IncludeFiles::find(std::string_view includer_path, std::string_view name) {
  const std::string shown = "Include file " + quoted(name);
  if (name.find('\0') == std::string_view::npos) {
    std::vector<std::string> places;
    if (!includer_path.empty()) places.push_back(folder_of(includer_path));
    places.insert(places.end(), folders_.begin(), folders_.end());
    for (const std::string& folder : places) {
      if (IncludedFile* file = read_candidate(joined(folder, name), shown)) return *file;
    }
  }
  raise_value_error(shown + " not found");
}

IncludedFile* IncludeFiles::read_candidate(const std::string& path, std::string_view shown) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  const Identity identity{status.st_dev, status.st_ino};
  if (const auto known = by_identity_.find(identity); known != by_identity_.end()) {
    return known->second;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) raise_value_error(std::string(shown) + " cannot be read");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (std::string_view(text).starts_with(BYTE_ORDER_MARK)) text.erase(0, BYTE_ORDER_MARK.size());
  auto& file = files_.emplace_back(std::make_unique<IncludedFile>());
  file->path = path;
  file->text = std::move(text);
  file->is_program = identity == program_identity_;
  try {
    validate_utf8(file->text);
    file->valid_utf8 = true;
  } catch (const Error&) {
    // refused where it is included
  }
  by_identity_.emplace(identity, file.get());
  return file.get();
}

void IncludeFiles::read_all(std::string_view program_text) {
  if (program_path_.empty() && folders_.empty()) return;  // nothing would be found
  read_included_by(program_path_, program_text);
  // Each file read is searched in turn, those it brings in added behind it.
  for (std::size_t k = 0; k < files_.size(); ++k) {
    if (files_[k]->valid_utf8) read_included_by(files_[k]->path, files_[k]->text);
  }
}

// The lexer finds the includes (`include` and a quoted name): the grammar allows that pair
// nowhere else. Text the lexer refuses is searched up to there; lowering refuses it later.
void IncludeFiles::read_included_by(std::string_view includer_path, std::string_view text) {
  if (!may_include_files(text)) return;
  try {
    Lexer lexer(text);
    bool after_include = false;
    for (Token token = lexer.next(); token.kind != TokenKind::END; token = lexer.next()) {
      if (after_include && token.kind == TokenKind::STRING) {
        const std::string_view name = token.text.substr(1, token.text.size() - 2);
        if (!library_source(name)) {
          try {
            find(includer_path, name);
          } catch (const Error&) {
            // reported where lowering includes it
          }
        }
      }
      after_include = token.kind == TokenKind::IDENTIFIER && token.text == INCLUDE_KEYWORD;
    }
  } catch (const Error&) {
    // the text is refused where lowering reads it
  }
}

}  // namespace corvane::qasm3::detail::lower
