// File helpers shared by everything that keeps a JSON file: whole-file reads,
// atomic replacement, folder creation, moving aside.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace trevlin::Files {

/// The whole regular file (at most about `limit` bytes), or absent with
/// `error` set to the reason; anything else (a FIFO, a device) is refused.
std::optional<std::string> read(const std::string& path, std::string* error = nullptr,
                                size_t limit = static_cast<size_t>(-1));
/// Writes `bytes` to a temporary file beside `path`, syncs it and renames it
/// over `path`. False with `error` set when any step fails; the temporary file
/// is removed then.
bool writeAtomically(const std::string& path, const std::string& bytes, std::string* error = nullptr);
/// Creates `dir` and every missing parent.
bool createDirectories(const std::string& dir, std::string* error = nullptr);
bool exists(const std::string& path);
bool move(const std::string& from, const std::string& to, std::string* error = nullptr);
/// Deletes a file; a missing file is not an error.
bool remove(const std::string& path, std::string* error = nullptr);
/// The folder part of a path ("/a/b/c.json" → "/a/b").
std::string directoryOf(const std::string& path);
/// The current UTC time as "2026-03-07T10:15:30Z".
std::string isoTimestampUTC(double secondsSince1970);
/// `isoTimestampUTC` with every ":" replaced by "-", for file names.
std::string fileTimestamp(double secondsSince1970);

}  // namespace trevlin::Files
