// Splitting, joining and resolving paths on the PC, and cleaning names that become file names.
// Both '/' and '\' separate; paths are narrow text in the ANSI code page.
#pragma once

#include <string>

#include "support/result_codes.h"

namespace rc {
constexpr Result kPathTooLong = static_cast<Result>(0x800410CE);
}  // namespace rc

// Paths of this many characters or more are not accepted by NormalizePath.
constexpr size_t kMaxPathLength = 260;

bool IsDotOrDotDot(const std::string& name);
// The text after the last separator (empty when the path ends in one).
std::string BaseName(const std::string& path);
// The text before the last separator; empty when there is none or it is the first character.
std::string DirectoryPart(const std::string& path);
// The text after the last '.'; empty when there is no dot or a separator follows it.
std::string FileExtension(const std::string& path);
// BaseName without its last extension.
std::string FileStem(const std::string& path);
std::string WithTrailingSeparator(const std::string& directory);
std::string JoinPath(const std::string& directory, const std::string& name);
// `to` relative to the folder `from`, without a leading ".\"; `to` unchanged when it cannot
// be made relative (another drive).
std::string RelativePath(const std::string& from, const std::string& to);
// The canonical form ("." and ".." resolved); rc::kPathTooLong, or rc::kFail.
Result NormalizePath(const std::string& path, std::string* out);
// `path` against the folder `base`; UNC paths and URLs stay as they are. rc::kNotFound when
// the result is not absolute.
Result MakeAbsolutePath(const std::string& base, const std::string& path, std::string* out);
// The 8.3 form of an existing path, else the path itself.
std::string ShortPathName(const std::string& path);
// A name without the characters Windows refuses, without leading and trailing blanks and dots,
// and never a reserved device name ("CON_", "nul_.txt").
std::string SanitizeFileName(const std::string& text);
