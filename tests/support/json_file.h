// Test support: a JSON file the programs wrote, parsed.
#pragma once

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

inline nlohmann::json read_json(const std::string& path) {
  std::ifstream file(path);
  return nlohmann::json::parse(file);
}
