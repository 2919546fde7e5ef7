#include "window_probe.h"

#include <cstring>
#include <fstream>
#include <set>
#include <vector>

namespace {

struct DialogSearch {
  std::string title;
  HWND other_than;
  HWND found = nullptr;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(parameter);
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof(class_name));
  if (window == search->other_than || std::strcmp(class_name, "#32770") != 0) return TRUE;
  char text[256] = {};
  GetWindowTextA(window, text, sizeof(text));
  if (!search->title.empty() && search->title != text) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(20);
  }
  return true;
}

HWND WaitForDialog(DWORD thread, const std::string& title, DWORD timeout_ms, HWND other_than) {
  DialogSearch search{title, other_than};
  WaitUntil(
      [&] {
        EnumThreadWindows(thread, &MatchDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr && IsWindowVisible(search.found);
      },
      timeout_ms);
  return search.found;
}

std::string ItemText(HWND dialog, int id) {
  char text[1024] = {};
  GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

bool ItemEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool ItemVisible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

std::string MessageBoxText(HWND box) { return ItemText(box, 0xFFFF); }

int SaveScreenshot(HWND window, const std::string& path) {
  RECT frame;
  if (!GetWindowRect(window, &frame)) return 0;
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) return 0;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  // The window's surface holds what its children drew too; asking the window to print itself
  // would leave the controls out.
  // The window's thread finishes what it was doing and paints everything once more.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
  Sleep(200);
  HDC window_dc = GetWindowDC(window);
  const BOOL printed = BitBlt(memory, 0, 0, width, height, window_dc, 0, 0, SRCCOPY);
  ReleaseDC(window, window_dc);
  GdiFlush();
  const int stride = (width * 3 + 3) & ~3;
  const size_t image_size = static_cast<size_t>(stride) * height;
  std::set<uint32_t> colours;
  const unsigned char* pixels = static_cast<const unsigned char*>(bits);
  for (int y = 0; printed && y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = pixels + y * stride + x * 3;
      colours.insert(p[0] | p[1] << 8 | p[2] << 16);
    }
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = static_cast<DWORD>(file.bfOffBits + image_size);
  info.bmiHeader.biSizeImage = static_cast<DWORD>(image_size);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(image_size));
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  return printed && out.good() ? static_cast<int>(colours.size()) : 0;
}
