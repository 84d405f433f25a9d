// What varnel-read-runs writes on its standard output, read by the study's
// database (workflow/scripts/study_db.py, read_runs). Every message starts
// with eight little-endian 64-bit integers, the first its kind:
//
//   kRecord  [1, readable, bytes]: the text of a run's record (JSON that
//            parses) when readable is 1, else why it cannot be read.
//   kChunk   [2, renumbered, rows, new rules, new pairs, new outcomes,
//            bytes]: a RuleChunk (rule_coder.h): its new keys' text (bytes
//            in all: rules, then pairs, then outcomes), then five arrays of
//            `rows` integers: ranks, rules, mined pairs, test pairs,
//            outcomes.
//   kEnd     [3]: the end of a run (after its record and its chunks).
//   kFailure [4, 0, bytes]: what is wrong with a rule table; nothing follows.
//
// Unused integers are 0.
#pragma once

#include <cstdio>
#include <string>

#include "rule_coder.h"

enum MessageKind : int64_t { kRecord = 1, kChunk = 2, kEnd = 3, kFailure = 4 };

// Each returns false when the output cannot be written (the reader gone).
bool write_record(std::FILE* out, bool readable, const std::string& text);
bool write_chunk(std::FILE* out, const RuleChunk& chunk);
bool write_end(std::FILE* out);
bool write_failure(std::FILE* out, const std::string& text);
