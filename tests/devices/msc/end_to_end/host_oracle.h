// Runs the Linux oracle script msc_end_to_end_oracle.py from inside the Wine test process.
// Wine starts a Linux program directly but hands back no process to wait for, so the script
// writes its result file in one rename and the test polls for it.
#pragma once

#include <string>
#include <vector>

// The path of a Windows file as the Linux side sees it; empty when Wine cannot tell.
std::string UnixPathOf(const std::string& windows_path);

// The script's result lines for `command` ("tags", "m3u", "dump") on a Windows path; a
// single "error=..." line when it failed or did not answer within a minute.
std::vector<std::string> RunHostOracle(const std::string& command, const std::string& path);
