// Splitting a record into its fields.
#include "common/record_fields.h"

bool is_missing_value(std::string_view value) { return value == "?" || value == "ignore"; }
