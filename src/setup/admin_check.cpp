#include "setup/admin_check.h"

#include "setup/setup_codes.h"
#include "setup/system_library.h"

bool LoadAdminCheckApi(AdminCheckApi* api) {
  *api = AdminCheckApi();
  HMODULE advapi = LoadSystemLibrary("ADVAPI32.DLL");
  BindEntry(advapi, "AllocateAndInitializeSid", &api->allocate_sid);
  BindEntry(advapi, "CheckTokenMembership", &api->check_membership);
  BindEntry(advapi, "FreeSid", &api->free_sid);
  return api->allocate_sid && api->check_membership && api->free_sid;
}

Result CheckAdministrator(const AdminCheckApi& api) {
  if (!api.allocate_sid || !api.check_membership || !api.free_sid)
    return rc::FromWin32(ERROR_PROC_NOT_FOUND);
  SID_IDENTIFIER_AUTHORITY nt_authority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!api.allocate_sid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                        DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
    return rc::FromWin32(GetLastError());
  BOOL member = FALSE;
  const BOOL checked = api.check_membership(nullptr, administrators, &member);
  const DWORD error = GetLastError();
  api.free_sid(administrators);
  if (!checked) return rc::FromWin32(error);
  return member ? 0 : setup_rc::kNotAdministrator;
}
