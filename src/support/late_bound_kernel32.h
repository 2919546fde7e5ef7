// The stand-ins of late_bound_kernel32.cpp run only where the system lacks a function. So that
// tests can run them on any Windows, a name can be made to look absent: while it does, the
// stand-in does its own work instead of calling the system's function.
#pragma once

namespace late_bound {

// The one name that looks absent from now on (as it is looked up: "CopyFileExA",
// "GetTickCount64", "_stat64"...); null for none.
void PretendAbsent(const char* name);

}  // namespace late_bound
