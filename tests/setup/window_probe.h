// Looks at the setup dialog from another thread, the way a person sees it: the windows of the
// dialog's thread, their texts, enabled and visible flags, and a screenshot kept as a file.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The first top-level window of `thread` whose class is the dialog class and whose text is
// `title` (any text when empty), waiting up to `timeout_ms`; null when none appears.
HWND WaitForDialog(DWORD thread, const std::string& title, DWORD timeout_ms,
                   HWND other_than = nullptr);

// Waits until `condition` holds, up to `timeout_ms`.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms);

std::string ItemText(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
bool ItemVisible(HWND dialog, int id);

// The text of a message box's message.
std::string MessageBoxText(HWND box);

// Writes the window as it is drawn to a 24-bit BMP file; returns how many different colours
// the picture holds (0 when it could not be taken).
int SaveScreenshot(HWND window, const std::string& path);
