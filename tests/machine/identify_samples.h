#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "machine/serial_core.h"

namespace heartpage::machine::testing {

// The 512 identify bytes of a sample under the test data folder: hex bytes
// separated by white space, "#" starting a comment line.
inline std::vector<std::uint8_t> LoadIdentifySample(const std::string& name) {
  const char* folder = std::getenv("HEARTPAGE_TEST_DATA");
  if (!folder) throw std::runtime_error("HEARTPAGE_TEST_DATA is not set");
  std::ifstream in(std::string(folder) + "/" + name);
  if (!in) throw std::runtime_error("cannot open sample " + name);
  std::vector<std::uint8_t> bytes;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '#') continue;
    std::istringstream words(line);
    for (std::string word; words >> word;)
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
  }
  if (bytes.size() != 512) throw std::runtime_error("sample " + name + " is not 512 bytes");
  return bytes;
}

inline IdentifyRecord RecordOf(const std::vector<std::uint8_t>& identify) {
  IdentifyRecord record{};
  std::copy_n(identify.begin(), record.size(), record.begin());
  return record;
}

}  // namespace heartpage::machine::testing
