// varnel-generate run as a program: the same seed gives the same bytes, the
// drawn data follow the model (noise independent of the class and of the
// causal attributes but not of each other, planted rates reproduced, a null
// class independent of everything), and bad settings are refused with their
// message and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "common/record_fields.h"
#include "common/text_lines.h"
#include "support/scratch_dir.h"
#include "testpart/attribute_names.h"

namespace {

const std::string kGenerate = std::string(VARNEL_BIN_DIR) + "/varnel-generate";

// 5 causal and 9 noise attributes of 3 values; two planted rules that hold
// together in 1/81 of the records.
const std::string kPlanted = R"({"records": 60000, "base_rate": 0.3,
  "causal": [{"name": "c", "count": 5, "values": 3}],
  "noise": [{"name": "n", "count": 9, "values": 3, "skew": 1, "adherence": 0.6}],
  "planted": [{"items": ["c1=v1", "c2=v2"], "rate": 0.75},
              {"items": ["c3=v3", "c4=v1"], "rate": 0.6}]})";
const std::string kNull = R"({"records": 60000, "base_rate": 0.3,
  "causal": [{"name": "c", "count": 3, "values": ["a", "b", "c"], "skew": "random"}],
  "noise": [{"name": "n", "count": 4, "values": 3}], "profiles": [0.5, 0.3, 0.2]})";

struct Generated {
  AttributeNames names;
  std::vector<std::vector<std::string>> records;
  nlohmann::json truth;
};

// Generates from `settings` in the working directory and reads the files back
// with the system's own readers.
Generated generate(const std::string& settings, const std::string& seed = "11") {
  write_file("s.json", settings);
  const CommandResult result = run_program(kGenerate, {"--seed", seed, "s.json", "d"});
  EXPECT_EQ(result.status, 0) << result.output;
  Generated generated;
  std::FILE* file = std::fopen("d.names", "r");
  if (file == nullptr) return generated;
  read_attribute_names(generated.names, file);
  const AttributeNames& names = generated.names;
  file = std::fopen("d.data", "r");
  for (std::string line; read_text_line(file, line);) {
    generated.records.emplace_back();
    split_fields(line, ',', generated.records.back());
    EXPECT_EQ(generated.records.back().size(), names.size());
  }
  std::fclose(file);
  generated.truth = nlohmann::json::parse(read_file("d.truth.json"));
  return generated;
}

// The chance of a chi-square of `df` (even) degrees of freedom reaching x.
double chi_square_tail(double x, int df) {
  double term = 1.0, sum = 1.0;
  for (int i = 1; i < df / 2; ++i) sum += term *= x / 2 / i;
  return std::exp(-x / 2) * sum;
}

// The p-value of Pearson's test of independence of two columns of 3 or 2
// values each (so that the degrees of freedom are even).
double independence_pvalue(const Generated& data, size_t a, size_t b) {
  std::map<std::pair<std::string, std::string>, double> cells;
  std::map<std::string, double> rows, columns;
  for (const auto& record : data.records) {
    cells[{record[a], record[b]}] += 1;
    rows[record[a]] += 1;
    columns[record[b]] += 1;
  }
  const double n = static_cast<double>(data.records.size());
  double chi = 0.0;
  for (const auto& [row, row_count] : rows) {
    for (const auto& [column, column_count] : columns) {
      const double expected = row_count * column_count / n;
      const double observed = cells[{row, column}];
      chi += (observed - expected) * (observed - expected) / expected;
    }
  }
  return chi_square_tail(chi, static_cast<int>((rows.size() - 1) * (columns.size() - 1)));
}

// The share of class 1 among the records where `holds` is true, and how many.
template <typename Holds>
std::pair<double, double> class_share(const Generated& data, Holds holds) {
  double covered = 0, in_class = 0;
  for (const auto& record : data.records) {
    if (!holds(record)) continue;
    covered += 1;
    in_class += record[0] == "1";
  }
  return {in_class / covered, covered};
}

void expect_within_four_errors(std::pair<double, double> share, double rate, const char* what) {
  const double error = std::sqrt(rate * (1 - rate) / share.second);
  EXPECT_NEAR(share.first, rate, 4 * error) << what << " over " << share.second << " records";
}

}  // namespace

TEST(GenerateCommand, TheSameSeedGivesTheSameBytesAndAnotherSeedOtherData) {
  std::map<std::string, std::string> files;
  std::string data_7;
  for (const std::string seed : {"7", "7", "8"}) {
    ScratchDir dir;
    write_file("s.json", kPlanted);
    ASSERT_EQ(run_program(kGenerate, {"--seed=" + seed, "s.json", "d"}).status, 0);
    const std::string all = read_file("d.data") + read_file("d.names") + read_file("d.truth.json");
    if (files.count(seed)) {
      EXPECT_EQ(all, files[seed]) << "seed " << seed;
    }
    files[seed] = all;
    if (seed == "7") data_7 = read_file("d.data");
    if (seed == "8") {
      EXPECT_NE(read_file("d.data"), data_7);
    }
  }
}

TEST(GenerateCommand, NoiseIsIndependentOfClassAndCausesButNotOfItself) {
  ScratchDir dir;
  const Generated data = generate(kPlanted);
  ASSERT_EQ(data.records.size(), 60000u);
  ASSERT_EQ(data.names.size(), 15u);
  EXPECT_EQ(data.names[0], "class");
  for (size_t noise = 6; noise < 15; ++noise) {
    EXPECT_GT(independence_pvalue(data, noise, 0), 1e-4) << data.names[noise] << " and the class";
    for (size_t cause = 1; cause < 6; ++cause) {
      EXPECT_GT(independence_pvalue(data, noise, cause), 1e-4)
          << data.names[noise] << " and " << data.names[cause];
    }
    // The latent profiles tie the noise attributes together.
    EXPECT_LT(independence_pvalue(data, noise, noise == 14 ? 6 : noise + 1), 1e-10);
  }
  // The class does depend on the causes.
  EXPECT_LT(independence_pvalue(data, 1, 0), 1e-10);
}

TEST(GenerateCommand, PlantedRatesAndTheOverallRateAreReproduced) {
  ScratchDir dir;
  const Generated data = generate(kPlanted);
  const auto first = [](const auto& r) { return r[1] == "v1" && r[2] == "v2"; };
  const auto second = [](const auto& r) { return r[3] == "v3" && r[4] == "v1"; };
  expect_within_four_errors(class_share(data, [&](const auto& r) { return first(r); }), 0.75,
                            "first planted rule");
  expect_within_four_errors(
      class_share(data, [&](const auto& r) { return second(r) && !first(r); }), 0.6,
      "second planted rule alone");
  expect_within_four_errors(
      class_share(data, [&](const auto& r) { return !first(r) && !second(r); }), 0.3,
      "no planted rule");
  // Overall: (9 * 0.75 + 8 * 0.6 + 64 * 0.3) / 81, the highest rate where both hold.
  const double overall = (9 * 0.75 + 8 * 0.6 + 64 * 0.3) / 81;
  EXPECT_NEAR(data.truth["class_rate"].get<double>(), overall, 1e-12);
  expect_within_four_errors(class_share(data, [](const auto&) { return true; }), overall,
                            "every record");
  EXPECT_EQ(data.truth["planted"][1]["items"], nlohmann::json({"c3=v3", "c4=v1"}));
  EXPECT_EQ(data.truth["attributes"][5]["role"], "noise");
  EXPECT_EQ(data.truth["attributes"][5]["preferred"].size(), 4u);
}

TEST(GenerateCommand, TheNullClassIsIndependentOfEveryAttribute) {
  ScratchDir dir;
  const Generated data = generate(kNull);
  ASSERT_EQ(data.names.size(), 8u);
  for (size_t a = 1; a < data.names.size(); ++a) {
    EXPECT_GT(independence_pvalue(data, a, 0), 1e-4) << data.names[a];
  }
  EXPECT_EQ(data.truth["class_rate"], 0.3);
  // Random skews are drawn, written in the truth and followed by the data.
  const auto& chances = data.truth["attributes"][0]["probabilities"];
  EXPECT_NE(chances[0], chances[1]);
  expect_within_four_errors(class_share(data, [](const auto& r) { return r[1] == "a"; }), 0.3, "");
  const double share_a =
      class_share(data, [](const auto& r) { return r[1] == "a"; }).second / 60000;
  EXPECT_NEAR(share_a, chances[0].get<double>(), 4 * std::sqrt(0.25 / 60000));
}

// Planted rules that are no effect of their own, each with its warning and
// its mark in the truth file: inside a rule of the same rate with fewer
// items, listed after it (0), inside a rule of a higher rate (1), at the base
// rate (3), with an item of chance 0 (4), and covered by two rules neither of
// which it contains (7: d=v1 always holds, so wherever c3=v2 holds, 6 or,
// where 2 holds too, 2 sets the rate). 2, 5 and 6 each set the rate somewhere.
const std::string kIneffective = R"({"records": 20, "base_rate": 0.3,
  "causal": [{"name": "c", "count": 3, "values": 3},
             {"name": "d", "values": 2, "probabilities": [1, 0]}],
  "planted": [{"items": ["c3=v2", "c2=v2", "c1=v1"], "rate": 0.8},
              {"items": ["c1=v1", "c2=v2", "c3=v1"], "rate": 0.6},
              {"items": ["c1=v1", "c2=v2"], "rate": 0.8},
              {"items": ["c3=v3"], "rate": 0.3},
              {"items": ["d=v2"], "rate": 0.9},
              {"items": ["c3=v1"], "rate": 0.5},
              {"items": ["c3=v2", "d=v1"], "rate": 0.7},
              {"items": ["c3=v2"], "rate": 0.6}]})";

TEST(GenerateCommand, PlantedRulesThatAreNoEffectGetOneWarningEachAndTheirMark) {
  ScratchDir dir;
  write_file("s.json", kIneffective);
  const CommandResult result = run_program(kGenerate, {"--seed", "3", "s.json", "d"});
  ASSERT_EQ(result.status, 0) << result.output;
  const std::string tail = "; truth studies leave it out of power\n";
  const std::string warnings =
      "Warning: s.json: planted[0] (c1=v1 & c2=v2 & c3=v2, rate 0.8) can never set the class "
      "rate: wherever it holds, planted[2] holds too with a rate at least as high" +
      tail +
      "Warning: s.json: planted[1] (c1=v1 & c2=v2 & c3=v1, rate 0.6) can never set the class "
      "rate: wherever it holds, planted[2] holds too with a rate at least as high" +
      tail +
      "Warning: s.json: planted[3] (c3=v3, rate 0.3) has the base rate: it is no effect "
      "of its own" +
      tail +
      "Warning: s.json: planted[4] (d=v2, rate 0.9) can never hold: one of its items "
      "has chance 0" +
      tail +
      "Warning: s.json: planted[7] (c3=v2, rate 0.6) can never set the class rate: wherever it "
      "holds, planted[2] or planted[6] holds too with a rate at least as high" +
      tail;
  EXPECT_EQ(result.output.substr(0, warnings.size()), warnings);
  EXPECT_EQ(result.output.find("Warning", warnings.size()), std::string::npos) << result.output;
  const std::string data = read_file("d.data");
  EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 20);

  const nlohmann::json truth = nlohmann::json::parse(read_file("d.truth.json"));
  const std::vector<std::string> why = {"shadowed",    "shadowed", "", "base_rate",
                                        "never_holds", "",         "", "shadowed"};
  ASSERT_EQ(truth["planted"].size(), why.size());
  for (size_t r = 0; r < why.size(); ++r) {
    const nlohmann::json& rule = truth["planted"][r];
    EXPECT_EQ(rule["effective"], why[r].empty()) << r;
    EXPECT_EQ(rule.contains("why") ? rule["why"].get<std::string>() : "", why[r]) << r;
  }
}

TEST(GenerateCommand, PlantedRulesThatAreEffectsGetNoWarning) {
  ScratchDir dir;
  write_file("s.json", kPlanted);
  const CommandResult result = run_program(kGenerate, {"s.json", "d"});
  EXPECT_EQ(result.output.find("Warning"), std::string::npos) << result.output;
  const nlohmann::json truth = nlohmann::json::parse(read_file("d.truth.json"));
  for (const nlohmann::json& rule : truth["planted"]) {
    EXPECT_EQ(rule["effective"], true);
    EXPECT_FALSE(rule.contains("why"));
  }
}

// (settings, the message after "Error: s.json: ")
const std::vector<std::pair<std::string, std::string>> kBadSettings = {
    {"{", "not valid JSON: parse error at line 1, column 2"},
    {"[1]", "the settings must be an object {...}, not [1]"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [], "nosie": []})",
     "unknown key \"nosie\" in the settings"},
    {R"({"base_rate": 0.3, "noise": [{"name": "n", "values": 2}]})", "records is missing"},
    {R"({"records": 0, "base_rate": 0.3})",
     "records must be a whole number from 1 to 10000000, not 0"},
    {R"({"records": 1e12, "base_rate": 0.3})",
     "records must be a whole number from 1 to 10000000, not 1000000000000.0"},
    {R"({"records": 18446744073709551615, "base_rate": 0.3})",
     "records must be a whole number from 1 to 10000000, not 18446744073709551615"},
    {R"({"records": 10, "base_rate": 1.5})", "base_rate must be a number from 0 to 1, not 1.5"},
    {R"({"records": 10, "base_rate": true})", "base_rate must be a number from 0 to 1, not true"},
    {R"({"records": 10, "base_rate": 0.3})",
     "there is no attribute besides the class: give causal or noise attributes"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "probabilities": [0.5, 0.6]}]})",
     "causal[0].probabilities must sum to 1, not 1.1"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "probabilities": [-0.5, 1.5]}]})",
     "causal[0].probabilities[0] must be a number from 0 to 1, not -0.5"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2, "skew": -1}]})",
     "causal[0].skew must be a number from 0 to 1000000 or \"random\", not -1"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "adherence": 0.5}]})",
     "unknown key \"adherence\" in causal[0]"},
    {R"({"records": 10, "base_rate": 0.3, "noise": [{"name": "n", "values": 2,
        "adherence": 2}]})",
     "noise[0].adherence must be a number from 0 to 1, not 2"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "count": 5000, "values": 2}]})",
     "causal[0].count must be a whole number from 1 to 1000, not 5000 (at most 1000 attributes in "
     "all)"},
    {R"({"records": 10000000, "base_rate": 0.3, "causal": [{"name": "c", "count": 120, "values": 2}]})",
     "records times columns (the class included) must be at most 1000000000, not 10000000 times "
     "121"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 100000}]})",
     "causal[0].values must be a whole number from 1 to 1000, not 100000"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": ["a", "a"]}]})",
     "causal[0].values holds \"a\" twice"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": ["a,b"]}]})",
     "causal[0].values[0] \"a,b\" holds ',', which separates the fields of a record"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": ["a\nb"]}]})",
     "causal[0].values[0] \"a\\nb\" holds a line break or another control character"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": ["?"]}]})",
     "causal[0].values[0] \"?\" reads as a missing value"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": [" a"]}]})",
     "causal[0].values[0] \" a\" begins with a blank, which the data reader drops"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": ["R&D"]}]})",
     "causal[0].values[0] \"R&D\" holds '&', which joins the items of a rule"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "a=b", "values": 2}]})",
     "causal[0].name \"a=b\" holds '=', which ends the name in an item name=value"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "a:b", "values": 2}]})",
     "causal[0].name: attribute name 'a:b' holds ':', which ends a name in the .names file"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "count": 2, "values": 2}],
        "noise": [{"name": "c2", "values": 2}]})",
     "two attributes are named \"c2\""},
    {R"({"records": 10, "base_rate": 0.3, "class": "c", "causal": [{"name": "c", "values": 2}]})",
     "two attributes are named \"c\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["c=v3"], "rate": 0.5}]})",
     "planted[0].items[0] \"c=v3\": attribute \"c\" has no value \"v3\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["d=v1"], "rate": 0.5}]})",
     "planted[0].items[0] \"d=v1\": there is no attribute \"d\""},
    {R"({"records": 10, "base_rate": 0.3, "noise": [{"name": "n", "values": 2}],
        "planted": [{"items": ["n=v1"], "rate": 0.5}]})",
     "planted[0].items[0] \"n=v1\" is an item of a noise attribute"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["c=v1", "c=v2"], "rate": 0.5}]})",
     "planted[0].items[1]: the rule already has an item of attribute \"c\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["c=v1"], "rate": 1.01}]})",
     "planted[0].rate must be a number from 0 to 1, not 1.01"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["c=v1"], "rate": 0.5}, {"items": ["c=v1"], "rate": 0.6}]})",
     "planted[1] has the items of planted[0]"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": [], "rate": 0.5}]})",
     "planted[0].items must be a list of one or more items \"attribute=value\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "count": 30, "values": 2}],
        "planted": [{"items": ["c1=v1", "c2=v1", "c3=v1", "c4=v1", "c5=v1", "c6=v1", "c7=v1",
        "c8=v1", "c9=v1", "c10=v1", "c11=v1", "c12=v1", "c13=v1", "c14=v1", "c15=v1", "c16=v1",
        "c17=v1", "c18=v1", "c19=v1", "c20=v1", "c21=v1"], "rate": 0.5}]})",
     "the planted rules name too many attribute values: their exact class rates would sum "
     "over more than 1000000 combinations"},
    {R"({"records": 10, "base_rate": 0.3, "noise": [{"name": "n", "values": 2}], "profiles": 0})",
     "profiles must be a whole number from 1 to 1000, not 0"},
};

std::string repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

const std::string kOneNoise = R"("noise": [{"name": "n", "values": 2}])";

// Settings made to break the reader rather than to describe a model: nesting
// far deeper than any model needs (70,000 levels once overflowed the stack),
// numbers beyond the range of a double (once an uncaught exception), the
// wrong type for each kind of key, repeated keys and text that is not JSON.
const std::vector<std::pair<std::string, std::string>> kHostileSettings = {
    {repeated("[", 70000) + repeated("]", 70000),
     "[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]... is nested deeper than 64 "
     "levels"},
    {repeated(R"({"a": )", 70000) + "1" + repeated("}", 70000),
     "a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a... is nested deeper than 64 "
     "levels"},
    {R"({"records": 10, "base_rate": 0.3, "planted": )" + repeated("[", 70000),
     "planted[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]... is nested deeper than 64 "
     "levels"},
    // 64 levels are read; the generator then says what it thinks of them.
    {R"({"records": )" + repeated("[", 63) + repeated("]", 63) + R"(, "base_rate": 0.3})",
     "records must be a whole number from 1 to 10000000, not [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["},
    {R"({"records": )" + repeated("[", 64) + repeated("]", 64) + R"(, "base_rate": 0.3})",
     "records[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]... is nested deeper than 64 "
     "levels"},
    {R"({"records": 1e400, "base_rate": 0.3})", "records: the number 1e400 is out of range"},
    {R"({"records": 10, "base_rate": -1e400})", "base_rate: the number -1e400 is out of range"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "probabilities": [0.5, 1e309]}]})",
     "causal[0].probabilities[1]: the number 1e309 is out of range"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["c=v1"], "rate": 1e309}]})",
     "planted[0].rate: the number 1e309 is out of range"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "skew": 1E+400}]})",
     "causal[0].skew: the number 1E+400 is out of range"},
    {R"({"records": 10, "base_rate": 0.3, "profiles": [1e400], )" + kOneNoise + "}",
     "profiles[0]: the number 1e400 is out of range"},
    {R"({"records": 1)" + std::string(400, '0') + R"(, "base_rate": 0.3})",
     "records: the number 1" + std::string(36, '0') + "... is out of range"},
    {R"({"records": 1e400)", "records: the number 1e400 is out of range"},
    {"1e400", "the number 1e400 is out of range"},
    {R"({"records": 18446744073709551616, "base_rate": 0.3, )" + kOneNoise + "}",
     "records must be a whole number from 1 to 10000000, not 1.8446744073709552e+19"},
    {R"({"records": -9223372036854775809, "base_rate": 0.3, )" + kOneNoise + "}",
     "records must be a whole number from 1 to 10000000, not -9.223372036854776e+18"},
    {R"({"records": 2.5, "base_rate": 0.3, )" + kOneNoise + "}",
     "records must be a whole number from 1 to 10000000, not 2.5"},
    {R"({"records": "10", "base_rate": 0.3, )" + kOneNoise + "}",
     "records must be a whole number from 1 to 10000000, not \"10\""},
    {R"({"records": 10, "base_rate": null, )" + kOneNoise + "}",
     "base_rate must be a number from 0 to 1, not null"},
    {R"({"records": 10, "base_rate": 0.3, "class": 1, )" + kOneNoise + "}",
     "class must be a text, not 1"},
    {R"({"records": 10, "base_rate": 0.3, "noise": {"name": "n", "values": 2}})",
     "noise must be a list of attributes [...], not {\"name\":\"n\",\"values\":2}"},
    {R"({"records": 10, "base_rate": 0.3, "causal": "c"})",
     "causal must be a list of attributes [...], not \"c\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [["c", 2]]})",
     "causal[0] must be an object {...}, not [\"c\",2]"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": ["c"], "values": 2}]})",
     "causal[0].name must be a text"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": {"a": 1}}]})",
     "causal[0].values must be a count of values or a list of 1 to 1000 texts, not {\"a\":1}"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": ["a", 2]}]})",
     "causal[0].values must be a count of values or a list of 1 to 1000 texts, not [\"a\",2]"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "count": "2"}]})",
     "causal[0].count must be a whole number from 1 to 1000, not \"2\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "probabilities": {"v1": 1}}]})",
     "causal[0].probabilities must be a list of 2 chances, not {\"v1\":1}"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "probabilities": ["0.5", 0.5]}]})",
     "causal[0].probabilities[0] must be a number from 0 to 1, not \"0.5\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "skew": [1]}]})",
     "causal[0].skew must be a number from 0 to 1000000 or \"random\", not [1]"},
    {R"({"records": 10, "base_rate": 0.3, "profiles": {"a": 1}, )" + kOneNoise + "}",
     "profiles must be a whole number from 1 to 1000, not {\"a\":1}"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": {"items": ["c=v1"], "rate": 0.5}})",
     "planted must be a list of at most 1000 rules, not {\"items\":[\"c=v1\"],\"rate\":0.5}"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": "c=v1", "rate": 0.5}]})",
     "planted[0].items must be a list of one or more items \"attribute=value\""},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": [1], "rate": 0.5}]})",
     "planted[0].items[0] must be an item \"attribute=value\", not 1"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2}],
        "planted": [{"items": ["c=v1"], "rate": "high"}]})",
     "planted[0].rate must be a number from 0 to 1, not \"high\""},
    {R"({"records": 10, "records": 20, "base_rate": 0.3, )" + kOneNoise + "}",
     "records is given twice"},
    {R"({"records": 10, "base_rate": 0.3, "noise": [{"name": "n", "values": 2, "name": "m"}]})",
     "noise[0].name is given twice"},
    {R"({"records": 10, "base_rate": 0.3, "": 1, )" + kOneNoise + "}",
     "unknown key \"\" in the settings"},
    {R"({"records": 10, "base_rate": 0.3, "": 1, "": 2, )" + kOneNoise + "}",
     "\"\" is given twice"},
    {R"({"records": 10, "base_rate": 0.3, "causal": [{"name": "c", "values": 2,
        "x\ny": 1, "x\ny": 1}]})",
     "causal[0].\"x\\ny\" is given twice"},
    {R"({"records": 10, "base_rate": 0.3, )" + kOneNoise + "} {}",
     "not valid JSON: parse error at line 1, column 74: syntax error while parsing value - "
     "unexpected '{'; expected end of input"},
    {"",
     "not valid JSON: parse error at line 1, column 1: syntax error while parsing value - "
     "unexpected end of input; expected '[', '{', or a literal"},
    {"{\"records\": 10, \"class\": \"\xff\"}",
     "not valid JSON: parse error at line 1, column 27: syntax error while parsing value - "
     "invalid string: ill-formed UTF-8 byte; last read: '\\\"\xEF\xBF\xBD'"},
    {R"({"records": 10, "class": ")" + std::string(100000, 'a'),
     "not valid JSON: parse error at line 1, column 100027: syntax error while parsing value - "
     "invalid string: missing closing quote; last read: "
     "'\\\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...'"},
};

// Existing outputs of the same names are left as they were.
void expect_refused(const std::string& settings, const std::string& message) {
  ScratchDir dir;
  write_file("s.json", settings);
  for (const char* output : {"d.data", "d.names", "d.truth.json"}) write_file(output, "earlier\n");
  const CommandResult result = run_program(kGenerate, {"s.json", "d"});
  const std::string shown_settings = settings.substr(0, 200);
  EXPECT_EQ(result.status, 1) << shown_settings;
  // One line; the parser's own words follow its position.
  EXPECT_EQ(result.output.find("Error: s.json: " + message), 0u) << result.output;
  EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
  for (const char* output : {"d.data", "d.names", "d.truth.json"}) {
    EXPECT_EQ(read_file(output), "earlier\n") << output;
  }
  const auto entries = std::distance(std::filesystem::directory_iterator("."),
                                     std::filesystem::directory_iterator());
  EXPECT_EQ(entries, 4) << shown_settings;
}

TEST(GenerateCommand, BadSettingsAreRefusedAndNothingIsWritten) {
  for (const auto& [settings, message] : kBadSettings) expect_refused(settings, message);
}

TEST(GenerateCommand, HostileSettingsGetOneLineErrorsNotACrash) {
  for (const auto& [settings, message] : kHostileSettings) expect_refused(settings, message);
}

// (arguments, exit status, the first line of the output)
const std::vector<std::tuple<std::vector<std::string>, int, std::string>> kBadCalls = {
    {{}, 2, "Error: expected SETTINGS and OUTPUT_BASE, got 0 arguments"},
    {{"--seed", "-1", "s.json", "d"},
     2,
     "Error: the seed must be a whole number from 0 to 18446744073709551615, not '-1'"},
    {{"--seed=18446744073709551616", "s.json", "d"},
     2,
     "Error: the seed must be a whole number from 0 to 18446744073709551615, not "
     "'18446744073709551616'"},
    {{"--records", "5", "s.json", "d"}, 2, "Error: unknown option --records"},
    {{"s.json", "out/"},
     2,
     "Error: OUTPUT_BASE must name the files to write, not a folder: 'out/'"},
    {{"missing.json", "d"}, 1, "Error: cannot open file missing.json for read"},
    {{"s.json", "no-such-folder/d"},
     1,
     "Error: cannot open file no-such-folder/d.data.partial for write"},
    {{"s.json", "s"}, 1, "Error: writing s.truth.json would replace the settings file s.json"},
    {{"--help"}, 0, "Usage: varnel-generate [--seed N] SETTINGS OUTPUT_BASE"},
};

TEST(GenerateCommand, BadCallsGetTheirMessageAndStatus) {
  for (const auto& [args, status, first_line] : kBadCalls) {
    ScratchDir dir;
    write_file("s.json",
               R"({"records": 5, "base_rate": 0.5, "noise": [{"name": "n", "values": 2}]})");
    std::filesystem::create_symlink("s.json", "s.truth.json");
    const CommandResult result = run_program(kGenerate, args);
    EXPECT_EQ(result.status, status) << first_line;
    EXPECT_EQ(result.output.substr(0, result.output.find('\n')), first_line);
    EXPECT_FALSE(std::filesystem::exists("d.data")) << first_line;
  }
}
