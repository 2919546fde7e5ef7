// Result codes of the installation tool; their texts are in the program's message table.
#pragma once

#include "support/result_codes.h"

namespace setup_rc {

constexpr Result kDone = 0;
constexpr Result kNothingToDo = 1;

constexpr Result kSourceMissing = static_cast<Result>(0xC004E010);
constexpr Result kUnknownRule = static_cast<Result>(0xC004E011);
constexpr Result kInstalledDriverNewer = static_cast<Result>(0xC004E013);
constexpr Result kNotAdministrator = static_cast<Result>(0xC0004008);

constexpr Result kFileNotFound = static_cast<Result>(0x80070002);  // ERROR_FILE_NOT_FOUND
constexpr Result kSharingViolation = static_cast<Result>(0x80070020);

}  // namespace setup_rc
