// Test support: small random data sets with planted associations, written in
// the record format the miner reads, and the miner's parameter file.
#pragma once

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

struct GeneratedData {
  std::vector<std::string> names;                 // column names; column 0 is the class
  std::vector<std::vector<std::string>> records;  // fields per record, "?" for missing
};

// No records yet; the columns "class", then "a0", "a1", ...
inline GeneratedData class_and_attributes(int attributes) {
  GeneratedData data;
  data.names.push_back("class");
  for (int a = 0; a < attributes; ++a) data.names.push_back("a" + std::to_string(a));
  return data;
}

// `records` records of a class column with `classes` values and `attributes`
// (at least 7) further columns of 2 or 3 values, `wider` more each. The class follows some of
// the attributes; the last attribute is a function of another (its items
// can add nothing to a cover) and the one before it is the same in every
// record, so items that preserve a cover are met at every depth.
inline GeneratedData generate_data(unsigned seed, int records, int attributes, int classes,
                                   int wider = 0) {
  std::mt19937 random(seed);
  GeneratedData data = class_and_attributes(attributes);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> fields(attributes + 1);
    for (int a = 0; a < attributes; ++a) {
      const int values = 2 + (a % 2) + wider;
      fields[a + 1] =
          "v" + std::to_string(std::uniform_int_distribution<int>(0, values - 1)(random));
    }
    fields[attributes] = fields[2] == "v0" ? "same" : "other";
    fields[attributes - 1] = "constant";
    for (int a = 0; a + 2 < attributes; ++a)
      if (unit(random) < 0.05) fields[a + 1] = "?";
    const bool planted = fields[1] == "v0" && fields[2] == "v1";
    const double chance = planted ? 0.85 : (fields[4] == "v2" ? 0.5 : 0.25);
    int cls = unit(random) < chance ? 1 : 0;
    if (classes > 2 && cls == 0 && unit(random) < 0.4) cls = 2;
    fields[0] = "c" + std::to_string(cls);
    if (unit(random) < 0.03) fields[0] = "?";
    data.records.push_back(fields);
  }
  return data;
}

// `records` records whose class ("c1" with chance `share`, else "c0") is
// drawn apart from `attributes` further columns of 2 or 3 values; each
// attribute copies the one before it half of the time, so that the patterns
// are correlated with each other but none with the class.
inline GeneratedData generate_null_data(unsigned seed, int records, int attributes, double share) {
  std::mt19937 random(seed);
  GeneratedData data = class_and_attributes(attributes);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> fields(attributes + 1);
    int value = 0;
    for (int a = 0; a < attributes; ++a) {
      const int values = 2 + a % 2;
      if (a == 0 || unit(random) < 0.5)
        value = std::uniform_int_distribution<int>(0, values - 1)(random);
      fields[a + 1] = "v" + std::to_string(value % values);
    }
    fields[0] = unit(random) < share ? "c1" : "c0";
    data.records.push_back(fields);
  }
  return data;
}

// Each record 1 to 1 + `repeats` times, in shuffled order (none repeated
// when `repeats` is 0).
inline void repeat_records(GeneratedData& data, unsigned seed, int repeats) {
  if (repeats <= 0) return;
  std::mt19937 random(seed);
  std::vector<std::vector<std::string>> repeated;
  for (const auto& record : data.records)
    for (int k = std::uniform_int_distribution<int>(0, repeats)(random); k >= 0; --k)
      repeated.push_back(record);
  std::shuffle(repeated.begin(), repeated.end(), random);
  data.records = std::move(repeated);
}

inline void write_generated_data(const GeneratedData& data, const std::string& base) {
  std::string names;
  for (const std::string& name : data.names) names += name + ": values.\n";
  write_file(base + ".names", names);
  std::string text;
  for (const auto& fields : data.records) {
    for (size_t i = 0; i < fields.size(); ++i) text += (i ? "," : "") + fields[i];
    text += "\n";
  }
  write_file(base + ".data", text);
}

struct MinerSettings {
  std::string target_value;
  int min_sup = 3;
  int max_len = 100;
  double max_pvalue = 0.05;
  double max_local_pvalue = 0.05;
  double min_diff = 0.0;
  bool gen_tid_list = true;
};

// The parameter file as the driver writes it.
inline std::string parameter_text(const std::string& base, const std::string& output,
                                  const MinerSettings& s) {
  char numbers[400];
  std::snprintf(numbers, sizeof numbers,
                "min_sup=%d\nmax_len=%d\nmax_pvalue=%.17g\nmax_local_pvalue=%.17g\n"
                "effect_size_method=confidence\nmin_diff=%.17g\n",
                s.min_sup, s.max_len, s.max_pvalue, s.max_local_pvalue, s.min_diff);
  return "data_file=" + base + ".data\nnames_file=" + base +
         ".names\nmaterialization_mode=freq only\nsignal_type=rule\ncontext_attributes=\n"
         "comparing_attributes=\ntarget_attribute=class\ntarget_value=" +
         s.target_value + "\ntest-statistic=fisher's exact test\ncompare_mode=pairwise\n" +
         numbers + "seeding_method=global\ndata_perm_method=swap\noutput_mode=all\ngen_tid_list=" +
         (s.gen_tid_list ? "yes" : "no") + "\noutput=" + output + "\n";
}
