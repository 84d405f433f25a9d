// Scanning the decimal integers of the miner's text files the way "%d" does,
// with a number too large for 32 bits reported instead of left undefined.
#pragma once

#include <cstdint>
#include <cstdio>

enum class ScanStatus { ok, end_of_file, not_a_number, out_of_range };

// Skips white space, then reads an optional sign and decimal digits into
// `value`. At the end of the file, on a word that does not start with a
// number, and on a number outside 32 bits, `value` is left as it was; the
// digits of an out-of-range number are consumed.
ScanStatus scan_int32(std::FILE* file, int32_t& value);
