// The folder of .qasm programs that several tests run over (CORVANE_QASM3_PROGRAMS names it).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace program_folder {

// The folder the environment variable names, else `fallback` (relative to the test's
// working directory). Other folders of .qasm files (the lowering examples) are read alike.
inline std::filesystem::path directory(const char* variable = "CORVANE_QASM3_PROGRAMS",
                                       const char* fallback = "programs") {
  const char* dir = std::getenv(variable);
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::path(fallback);
}

// The file names of the programs, in order.
inline std::vector<std::string> names(const std::filesystem::path& folder = directory()) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".qasm") found.push_back(entry.path().filename().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

inline std::string read(const std::string& name,
                        const std::filesystem::path& folder = directory()) {
  std::ifstream in(folder / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A test name made of the file name: its stem with every other character than a letter or
// digit replaced by '_'.
inline std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = std::filesystem::path(info.param).stem().string();
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
  return name;
}

}  // namespace program_folder
