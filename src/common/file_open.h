// Opening the files the system reads and writes, with the one message every
// reader gives for a file that is not there and every writer for a file it
// cannot create or finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Opens `path` for reading with `mode` ("r" or "rb"). On failure prints
// "Error: cannot open file <path> for read" and returns null; the error is
// the system's (report_io_error) unless the file is missing, may not be
// read or its name cannot reach it.
std::FILE* open_for_read(const std::string& path, const char* mode = "r");

// Creates or truncates `path` with `mode` ("w" or "wb"). On failure prints
// "Error: cannot open file <path> for write", an error of the system, and
// returns null.
std::FILE* open_for_write(const std::string& path, const char* mode = "w");

// Closes a file opened by open_for_write. Returns false after
// "Error: cannot write file <path>", an error of the system, when anything
// written was lost (a full disk may show only here), or when `written_ok`
// says an earlier write failed.
bool close_written(std::FILE* file, const std::string& path, bool written_ok = true);

// Closes `path`, opened by open_for_read and read until its end seemed
// reached. False, after "Error: cannot read file <path> to its end" (an
// error of the system), when a read failed: a failed read looks like the
// end of the file, and the data would be cut short.
bool close_read(std::FILE* file, const std::string& path);

// Makes the file open as `descriptor` `bytes` long on the disk before it is
// written out of order: the file system then lays it out in one piece
// rather than a stretch per write (on ext4 a third less system time for a
// file of gigabytes written in scattered pieces). A file system or device
// that reserves nothing is written as before, and a disk too full to hold
// the file shows at its writes.
void reserve_file_space(int descriptor, int64_t bytes);

// Writes `size` bytes at byte `offset` of the file open as `descriptor`,
// through as many writes as the system needs, without moving the file's
// position: threads may write apart places of one file at once. Returns
// false when the file did not take them all.
bool write_at(int descriptor, const char* data, size_t size, int64_t offset);
