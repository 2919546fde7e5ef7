// Resource ids of Haldor.exe.
#pragma once

#define IDI_HALDOR 101
#define IDD_DRIVER_SETUP 102

#define IDC_PROGRESS 1001
#define IDC_STATUS 1002
#define IDC_INTRODUCTION 1003
#define IDC_UNSIGNED_NOTE 1005
#define IDC_MANUAL_STAGE_NOTE 1006
#define IDC_ACTION 1007
