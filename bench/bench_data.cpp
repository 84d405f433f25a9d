// Benchmark data sets.
#include "bench_data.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

bool write_dense_data(const std::string& base, int records, int attributes, unsigned seed) {
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
  data.close();
  names.close();
  return data && names;
}

namespace {

// Draws are made from the raw engine output, which the standard fixes, so the
// data are the same bytes with any standard library.
double unit_draw(std::mt19937_64& random) {
  return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

// Index of the first cumulative weight above a uniform draw.
int pick(std::mt19937_64& random, const std::vector<double>& cumulative) {
  const double x = unit_draw(random) * cumulative.back();
  int i = 0;
  while (i + 1 < static_cast<int>(cumulative.size()) && cumulative[i] <= x) ++i;
  return i;
}

std::vector<double> cumulative_of(const std::vector<double>& weights) {
  std::vector<double> cumulative;
  double sum = 0.0;
  for (const double w : weights) cumulative.push_back(sum += w);
  return cumulative;
}

}  // namespace

bool write_correlated_data(const std::string& base, long records, unsigned seed) {
  constexpr int kAttributes = 22;
  constexpr int kProfiles = 5;
  std::mt19937_64 random(seed);
  std::ofstream names(base + ".names");
  names << "class: 1, 0.\n";
  std::array<int, kAttributes> values{};
  std::array<double, kAttributes> adherence{};
  std::vector<std::vector<double>> background;
  for (int a = 0; a < kAttributes; ++a) {
    values[a] = 2 + (a * 3) % 5;
    names << "a" << a << ": ";
    for (int v = 0; v < values[a]; ++v) names << (v ? ", v" : "v") << v;
    names << ".\n";
    // Tuned so that mining 500,000 records at a support of 10,000 tests
    // about 14 million patterns.
    adherence[a] = 0.765 + 0.05 * ((a * 7) % 5 - 2);
    std::vector<double> weights;
    for (int v = 0; v < values[a]; ++v) weights.push_back(1.0 / std::pow(v + 1.0, 1.2));
    background.push_back(cumulative_of(weights));
  }
  const std::vector<double> profile_weights = cumulative_of({0.3, 0.25, 0.2, 0.15, 0.1});
  std::array<std::array<int, kAttributes>, kProfiles> preferred{};
  for (auto& profile : preferred)
    for (int a = 0; a < kAttributes; ++a) profile[a] = static_cast<int>(random() % values[a]);

  names.close();
  if (!names) return false;
  std::FILE* data = std::fopen((base + ".data").c_str(), "w");
  if (data == nullptr) return false;
  std::string line;
  std::array<int, kAttributes> row{};
  for (long r = 0; r < records; ++r) {
    const auto& profile = preferred[pick(random, profile_weights)];
    for (int a = 0; a < kAttributes; ++a)
      row[a] = unit_draw(random) < adherence[a] ? profile[a] : pick(random, background[a]);
    // Planted: two conjunctions raise the class, one value lowers it.
    double chance = 0.3;
    if (row[0] == 0 && row[3] == 1) chance = 0.75;
    if (row[5] == 0 && row[7] == 0 && row[9] == 0) chance = 0.85;
    if (row[11] == 1) chance *= 0.5;
    line.clear();
    line.push_back(unit_draw(random) < chance ? '1' : '0');
    for (int a = 0; a < kAttributes; ++a) {
      line += ",v";
      line += static_cast<char>('0' + row[a]);
    }
    line += '\n';
    std::fputs(line.c_str(), data);
  }
  const bool failed = std::ferror(data) != 0;
  return std::fclose(data) == 0 && !failed;
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
      const std::string field = unquote(
          line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      data << (first ? "" : ",") << field;
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    data << "\n";
  }
  return true;
}
