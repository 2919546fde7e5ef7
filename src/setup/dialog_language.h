// The dialog's resources in one chosen language: its template and its string table. Language
// 0 leaves the choice to Windows (the user's language, else the nearest the program has).
#pragma once

#include <windows.h>

#include <string>

// A string-table text in the ANSI code page; empty when the id has none.
std::string LoadStringIn(HMODULE module, LANGID language, UINT id);

// DialogBoxIndirectParamA over the template of `dialog_id` in `language`; -1 when the
// program has no such template.
INT_PTR DialogBoxIn(HMODULE module, LANGID language, int dialog_id, HWND parent,
                    DLGPROC procedure, LPARAM parameter);
