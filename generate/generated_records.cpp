// Record draws: the noise values depend on the latent profile alone, the
// class on the causal values alone.
#include "generated_records.h"

#include <string>
#include <vector>

#include "random_draws.h"

void draw_records(const GeneratorModel& model, std::mt19937_64& engine, GeneratedCounts& counts,
                  const RecordTaker& take) {
  std::vector<std::vector<double>> cumulative;
  for (const GeneratedAttribute& attribute : model.attributes) {
    cumulative.push_back(cumulative_of(attribute.probabilities));
  }
  const std::vector<double> profiles = cumulative_of(model.profile_probabilities);
  std::vector<int> values(model.attributes.size());
  bool going = true;
  for (int64_t r = 0; r < model.records && going; ++r) {
    const int profile = pick_index(engine, profiles);
    for (size_t a = 0; a < model.attributes.size(); ++a) {
      const GeneratedAttribute& attribute = model.attributes[a];
      const bool adheres =
          attribute.role == AttributeRole::noise && unit_draw(engine) < attribute.adherence;
      values[a] = adheres ? attribute.preferred[profile] : pick_index(engine, cumulative[a]);
    }
    const bool in_class = unit_draw(engine) < class_rate_at(model, values);
    counts.in_class += in_class ? 1 : 0;
    ++counts.records;
    going = take(in_class, values);
  }
}

bool write_records(std::FILE* file, const GeneratorModel& model, std::mt19937_64& engine,
                   GeneratedCounts& counts) {
  std::string line;
  bool written = true;
  draw_records(model, engine, counts, [&](bool in_class, const std::vector<int>& values) {
    line.clear();
    line.push_back(in_class ? '1' : '0');
    for (size_t a = 0; a < model.attributes.size(); ++a) {
      line.push_back(',');
      line += model.attributes[a].values[values[a]];
    }
    line.push_back('\n');
    written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    return written;
  });
  return written;
}
