// File-system and shell services: the executable's directory, existence, whole-file writes,
// attributes, and handing a URL to the desktop's browser. Paths are native (UTF-8 on POSIX).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace kv {

// Attribute bits as the callers pass them.
constexpr int FileAttrReadOnly = 0x1;
constexpr int FileAttrHidden = 0x2;
constexpr int FileAttrSystem = 0x4;
constexpr int FileAttrArchive = 0x20;

// The directory of the running executable, without a trailing separator.
std::string RunDirectory();
// True when a file or a directory of that name exists.
bool FileExists(std::string_view path);
// Creates or replaces the file with the byte strings in order. A good file is never left half
// written: the bytes go to a temporary beside it, which is renamed into place.
bool WriteFileBytes(std::string_view path, std::initializer_list<std::span<const std::uint8_t>> parts);
// Read-only maps to the write bits; hidden to the file's name in the directory's ".hidden" list;
// system and archive have no meaning here.
bool SetFileAttrs(std::string_view path, int attributes);
// Hands the URL to the desktop's opener, detached; never through a shell command line.
void OpenUrlInBrowser(std::string_view url);

} // namespace kv
