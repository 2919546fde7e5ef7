// Turning a path template such as "Music\%T\%-%N" into a relative path from a track's
// properties. Codes: %A artist, %N title, %T album ("source"), %a "artist - ",
// %t "album - ", %R "artist_", %# "03", "% " "03 ", %- "03 - ", %_ "03_", %% a '%'.
// Texts are made safe for a file name; unknown codes vanish; missing values give nothing.
#pragma once

#include <string>

class PropertySet;

// The template and the result are ANSI-code-page text. Doubled backslashes after the first
// two characters (an empty folder level) are reduced to one.
std::string ExpandTrackFileName(const std::string& path_template, PropertySet& properties);
