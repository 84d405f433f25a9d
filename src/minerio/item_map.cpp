// Writer and readers of the item map.
#include "minerio/item_map.h"

#include "common/run_files.h"
#include "common/text_lines.h"

bool write_item_map(const std::string& path, const std::vector<std::string>& keys) {
  return write_text_lines(path, keys);
}

void load_item_map(ItemMap& map, std::FILE* file) {
  std::string key;
  int32_t item = 0;
  // Every line counts, an empty one too: ids are line indexes.
  while (read_text_line(file, key)) map[key] = item++;
  std::fclose(file);
}

std::vector<std::string> read_item_keys(const std::string& output_name) {
  std::vector<std::string> keys;
  std::FILE* file = std::fopen(item_map_file(output_name).c_str(), "r");
  if (file == nullptr) return keys;
  // Ids are line indexes, as the item map reader numbers them.
  for (std::string key; read_text_line(file, key);) keys.push_back(key);
  std::fclose(file);
  return keys;
}
