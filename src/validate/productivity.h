// Productivity on the test part: whether a kept rule improves, significantly
// and in confidence, on every rule that lacks one of its items. The mining
// part's local test lets a significant rule plus items that change nothing
// through at its own level; this repeats that test on records the miner
// never saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "minerio/rule_file.h"
#include "validate/rule_table.h"
#include "validate/test_covers.h"

// Per rule of `rules`, whether it is productive on the test part at
// `local_level`, answered for the rules of `kept` only (the others are
// false). Rule X is productive
// when for every Y = X minus one item with at least one item, both hold:
// Fisher(s(Y), s(X), k(Y), k(X)) <= `local_level` (X's extra item is
// significant within Y's cover) and k(X) / s(X) > k(Y) / s(Y) (it raises the
// confidence; the two-sided test alone would also pass a rule significantly
// worse than Y). A rule of one item has no such Y and is productive. `tests`
// holds every rule's test counts; `log_factorial` at least
// covers.instances + 1 entries. The rules are judged on `threads` threads.
std::vector<bool> find_productive_rules(const TestCovers& covers, const RuleSet& rules,
                                        const std::vector<RuleTest>& tests,
                                        const std::vector<size_t>& kept,
                                        const double* log_factorial, double local_level,
                                        int threads);
