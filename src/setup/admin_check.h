// Whether the process runs with administrator rights: on the Windows NT family its token must
// be a member of the built-in Administrators group; Windows 9x has no such rights to check.
#pragma once

#include <windows.h>

#include "support/result_codes.h"

struct AdminCheckApi {
  decltype(&::AllocateAndInitializeSid) allocate_sid = nullptr;
  decltype(&::CheckTokenMembership) check_membership = nullptr;
  decltype(&::FreeSid) free_sid = nullptr;
};

// Binds the functions from "ADVAPI32.DLL" of the System folder.
bool LoadAdminCheckApi(AdminCheckApi* api);

// 0 for a member, 0xC0004008 for anyone else, the Win32 error of a failing call.
Result CheckAdministrator(const AdminCheckApi& api);
