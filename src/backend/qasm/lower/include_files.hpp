// The files a program includes besides the standard libraries: looked for beside the
// file that includes them, then in the folders of a search path; each read whole once,
// however often and by whatever names it is included.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qasm/lower/syntax.hpp"

namespace corvane::qasm3::detail::lower {

// Where includes are looked for: the folder of the program's own file (`program_path`,
// none when empty) and the folders of the search path, in order.
struct IncludeSearch {
  std::string_view program_path;
  std::span<const std::string> folders;
};

// A file the program includes, read whole.
struct IncludedFile {
  // As found: the including file's folder or a search folder joined with the name as the
  // program wrote it.
  std::string path;
  std::string text;
  std::unique_ptr<Program> program;  // parsed when first included
  bool valid_utf8 = false;           // the lexer may read it
  bool is_program = false;           // the program's own file, reached again
  bool open = false;                 // being included: including it again closes a cycle
};

class IncludeFiles {
 public:
  explicit IncludeFiles(IncludeSearch search);

  // The file that `name` names in the text of the file `includer_path` (empty: the program
  // itself), read when first found. ValueError when no place holds a file of that name or
  // the file cannot be read; the caller places it.
  IncludedFile& find(std::string_view includer_path, std::string_view name);

  // Reads every file that the program includes, and those that they include, so that all
  // texts are known before lowering starts. It raises nothing: a file that cannot be
  // found or read is reported where lowering includes it.
  void read_all(std::string_view program_text);

  std::string_view program_path() const { return program_path_; }
  // The files read so far, in the order read.
  const std::vector<std::unique_ptr<IncludedFile>>& files() const { return files_; }

 private:
  // A file's device and inode: one file reached by two paths is read once.
  using Identity = std::pair<std::uint64_t, std::uint64_t>;

  IncludedFile* read_candidate(const std::string& path, std::string_view name);
  void read_included_by(std::string_view includer_path, std::string_view text);

  std::string program_path_;
  std::vector<std::string> folders_;
  std::optional<Identity> program_identity_;
  std::map<Identity, IncludedFile*> by_identity_;
  std::vector<std::unique_ptr<IncludedFile>> files_;
};

}  // namespace corvane::qasm3::detail::lower
