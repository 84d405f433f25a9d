// The miner's item map item_map_file(output): text, line k holds the
// key "attribute=value" of item k. Written by the miner, read by the test-part
// loader and the rule table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using ItemMap = std::map<std::string, int32_t>;

// Creates or truncates `path` with one key per line, item 0 first. Returns
// false after an "Error: " line when it cannot be written in full.
bool write_item_map(const std::string& path, const std::vector<std::string>& keys);

// Fills `map` from the item-map file (opened for reading by the caller) and
// closes the file. Every line counts, an empty one too, and a later equal
// key wins.
void load_item_map(ItemMap& map, std::FILE* file);

// The item map of `output_name` by item id: entry k is the key of item k. A
// missing file gives none, silently: the test-part loader reports it.
std::vector<std::string> read_item_keys(const std::string& output_name);
