#include "coded_stream.h"

#include <bit>
#include <cstdint>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the coded stream is written as the machine holds its integers");

namespace {

bool write_bytes(std::FILE* out, const void* data, size_t bytes) {
  return bytes == 0 || std::fwrite(data, 1, bytes, out) == bytes;
}

bool write_head(std::FILE* out, int64_t kind, int64_t a = 0, int64_t b = 0, int64_t c = 0,
                int64_t d = 0, int64_t e = 0, int64_t f = 0) {
  const int64_t head[8] = {kind, a, b, c, d, e, f, 0};
  return write_bytes(out, head, sizeof head);
}

bool write_ints(std::FILE* out, const std::vector<int64_t>& values) {
  return write_bytes(out, values.data(), values.size() * sizeof(int64_t));
}

}  // namespace

bool write_record(std::FILE* out, bool readable, const std::string& text) {
  return write_head(out, kRecord, readable ? 1 : 0, static_cast<int64_t>(text.size())) &&
         write_bytes(out, text.data(), text.size());
}

bool write_chunk(std::FILE* out, const RuleChunk& chunk) {
  size_t bytes = chunk.new_rules.size() + chunk.new_pairs.size() + chunk.new_outcomes.size();
  return write_head(out, kChunk, chunk.renumbered, static_cast<int64_t>(chunk.ranks.size()),
                    chunk.new_rule_count, chunk.new_pair_count, chunk.new_outcome_count,
                    static_cast<int64_t>(bytes)) &&
         write_bytes(out, chunk.new_rules.data(), chunk.new_rules.size()) &&
         write_bytes(out, chunk.new_pairs.data(), chunk.new_pairs.size()) &&
         write_bytes(out, chunk.new_outcomes.data(), chunk.new_outcomes.size()) &&
         write_ints(out, chunk.ranks) && write_ints(out, chunk.rules) &&
         write_ints(out, chunk.mined) && write_ints(out, chunk.test) &&
         write_ints(out, chunk.outcomes);
}

bool write_end(std::FILE* out) { return write_head(out, kEnd) && std::fflush(out) == 0; }

bool write_failure(std::FILE* out, const std::string& text) {
  return write_head(out, kFailure, 0, static_cast<int64_t>(text.size())) &&
         write_bytes(out, text.data(), text.size()) && std::fflush(out) == 0;
}
