// Comparing paths of a file source: '/' and '\' alike, letters in any case, "." and ".."
// resolved.
#pragma once

#include <string>
#include <vector>

// True when the path lies below one of the folders (the folder itself does not).
bool PathBelowAny(const std::string& path, const std::vector<std::string>& folders);
// True when the path is one of the folders or files.
bool PathIsAny(const std::string& path, const std::vector<std::string>& paths);
