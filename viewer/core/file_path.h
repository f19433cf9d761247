// Database paths are code page 1251 texts with Windows separators, relative
// to the current directory. These helpers take them to the file system.
#pragma once
#include <cstddef>
#include <string>

// The path as UTF-8 for SQLite; on POSIX hosts backslashes become slashes.
std::string Utf8FilePath(const std::string& path);
bool CanOpenForReading(const std::string& path);
// Reads up to size bytes from the start of the file; returns how many were read.
size_t ReadFileHead(const std::string& path, char* buffer, size_t size);
