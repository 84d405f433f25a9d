// Benchmark data sets.
#include "bench_data.h"

#include <cmath>
#include <fstream>
#include <random>
#include <vector>

void write_dense_data(const std::string& base, int records, int attributes, unsigned seed) {
  std::mt19937 random(seed);
  std::ofstream names(base + ".names");
  names << "class: yes, no.\n";
  std::vector<std::discrete_distribution<int>> columns;
  for (int a = 0; a < attributes; ++a) {
    names << "a" << a << ": values.\n";
    const int values = 2 + (a * 5) % 11;
    std::vector<double> weights;
    for (int v = 0; v < values; ++v) weights.push_back(1.0 / std::pow(v + 1.0, 1.6));
    columns.emplace_back(weights.begin(), weights.end());
  }
  std::ofstream data(base + ".data");
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<int> row(attributes);
  for (int r = 0; r < records; ++r) {
    for (int a = 0; a < attributes; ++a) row[a] = columns[a](random);
    // Planted: two conjunctions raise the class, one value lowers it.
    double chance = 0.3;
    if (row[0] == 0 && row[3] == 1) chance = 0.8;
    if (row[5] == 0 && row[7] == 0 && row[9] == 0) chance = 0.9;
    if (row[11] == 1) chance *= 0.5;
    data << (unit(random) < chance ? "yes" : "no");
    for (int a = 0; a < attributes; ++a) data << ",v" << row[a];
    data << "\n";
  }
}

namespace {

std::string unquote(std::string text) {
  const size_t first = text.find_first_not_of(" \t");
  const size_t last = text.find_last_not_of(" \t\r");
  text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"'))
    text = text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

bool convert_arff(const std::string& arff_path, const std::string& base) {
  std::ifstream in(arff_path);
  if (!in) return false;
  std::ofstream names(base + ".names");
  std::ofstream data(base + ".data");
  std::string line;
  bool in_data = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '%') continue;
    if (!in_data) {
      if (line.rfind("@attribute", 0) == 0 || line.rfind("@ATTRIBUTE", 0) == 0) {
        std::string rest = line.substr(10);
        rest = rest.substr(rest.find_first_not_of(" \t"));
        const size_t end = rest[0] == '\'' ? rest.find('\'', 1) + 1 : rest.find_first_of(" \t");
        names << unquote(rest.substr(0, end)) << ": values.\n";
      } else if (line.rfind("@data", 0) == 0 || line.rfind("@DATA", 0) == 0) {
        in_data = true;
      }
      continue;
    }
    size_t start = 0;
    for (bool first = true;; first = false) {
      const size_t comma = line.find(',', start);
      const std::string field =
          unquote(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      data << (first ? "" : ",") << field;
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    data << "\n";
  }
  return true;
}
