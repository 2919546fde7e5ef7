#include "devices/flash/title_bitmap.h"

#include <algorithm>
#include <cstring>

#include "support/byte_order.h"

namespace title_bitmap {

namespace {

constexpr uint32_t kCanvasGroups = kCanvasWidth / 8;
constexpr uint32_t kRowsPerGroup = 12;

bool IsInk(const uint8_t* canvas, uint32_t row, uint32_t x) {
  return (canvas[row * kCanvasStride + x / 8] >> (7 - x % 8) & 1u) == 0;
}

}  // namespace

Layout LayoutFor(uint16_t product_id) {
  switch (product_id) {
    case 0x5001:
      return Layout::kRows;
    case 0x5002:
    case 0x5008:
      return Layout::kColumns;
    default:
      return Layout::kNone;
  }
}

uint32_t BytesPerGroup(Layout layout) {
  switch (layout) {
    case Layout::kRows:
      return kRowsPerGroup;
    case Layout::kColumns:
      return 16;
    default:
      return 0;
  }
}

void Pack(Layout layout, const uint8_t* canvas, uint32_t width_bytes, uint8_t* picture) {
  std::memset(picture, 0, kPictureSize);
  const uint32_t per_group = BytesPerGroup(layout);
  if (per_group == 0) return;
  const uint32_t groups =
      std::min({width_bytes, kCanvasGroups, kPictureSize / per_group});
  for (uint32_t group = 0; group < groups; ++group) {
    uint8_t* out = picture + group * per_group;
    if (layout == Layout::kRows) {
      for (uint32_t row = 0; row < kRowsPerGroup; ++row) {
        out[row] = static_cast<uint8_t>(~canvas[row * kCanvasStride + group]);
      }
      continue;
    }
    for (uint32_t column = 0; column < 8; ++column) {
      uint16_t word = 0;
      for (uint32_t row = 0; row < kCanvasHeight; ++row) {
        if (IsInk(canvas, row, group * 8 + column)) word |= static_cast<uint16_t>(1u << row);
      }
      bytes::PutLe16(out + column * 2, word);
    }
  }
}

}  // namespace title_bitmap

namespace tb = title_bitmap;

TextBitmapRenderer::~TextBitmapRenderer() {
  ReleaseFont();
  ReleaseCanvas();
}

void TextBitmapRenderer::ReleaseFont() {
  if (previous_font_) SelectObject(dc_, previous_font_);
  previous_font_ = nullptr;
  if (font_) DeleteObject(font_);
  font_ = nullptr;
}

void TextBitmapRenderer::ReleaseCanvas() {
  if (previous_bitmap_) SelectObject(dc_, previous_bitmap_);
  previous_bitmap_ = nullptr;
  if (canvas_) DeleteObject(canvas_);
  canvas_ = nullptr;
  if (dc_) DeleteDC(dc_);
  dc_ = nullptr;
}

bool TextBitmapRenderer::MakeCanvas() {
  canvas_ = CreateBitmap(tb::kCanvasWidth, tb::kCanvasHeight, 1, 1, nullptr);
  if (!canvas_) return false;
  dc_ = CreateCompatibleDC(nullptr);
  if (!dc_ || !SetMapMode(dc_, MM_TEXT)) return false;
  previous_bitmap_ = SelectObject(dc_, canvas_);
  return previous_bitmap_ && PatBlt(dc_, 0, 0, tb::kCanvasWidth, tb::kCanvasHeight, WHITENESS);
}

bool TextBitmapRenderer::ChooseFont() {
  LOGFONTA stock = {};
  if (GetObjectA(GetStockObject(SYSTEM_FONT), sizeof stock, &stock) == 0) return false;
  for (LONG height = -16; height <= -6; ++height) {
    LOGFONTA wanted = {};
    wanted.lfHeight = height;
    wanted.lfWeight = FW_NORMAL;
    wanted.lfCharSet = stock.lfCharSet;
    font_ = CreateFontIndirectA(&wanted);
    if (!font_) continue;
    previous_font_ = SelectObject(dc_, font_);
    TEXTMETRICA metrics;
    if (previous_font_ && GetTextMetricsA(dc_, &metrics) && metrics.tmHeight < 14) return true;
    ReleaseFont();
  }
  return false;
}

bool TextBitmapRenderer::Draw(const char* text) {
  const int length = static_cast<int>(std::strlen(text));
  SIZE extent;
  if (!GetTextExtentPoint32A(dc_, text, length, &extent)) return false;
  width_bytes_ = (static_cast<uint32_t>(extent.cx) + 7) / 8;
  SetTextColor(dc_, RGB(0, 0, 0));
  SetBkColor(dc_, RGB(255, 255, 255));
  SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
  return TextOutA(dc_, 0, 0, text, length) != 0;
}

bool TextBitmapRenderer::Extract() {
  BITMAP shape;
  if (GetObjectA(canvas_, sizeof shape, &shape) == 0 || shape.bmPlanes != 1 ||
      shape.bmBitsPixel != 1) {
    return false;
  }
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } info = {};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = shape.bmWidth;
  info.header.biHeight = -shape.bmHeight;  // top-down rows
  info.header.biPlanes = 1;
  info.header.biBitCount = 1;
  info.header.biCompression = BI_RGB;
  info.header.biClrUsed = 2;
  uint8_t rows[tb::kCanvasBytes];
  if (GetDIBits(dc_, canvas_, 0, tb::kCanvasHeight, rows, reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS) == 0) {
    return false;
  }
  tb::Pack(tb::LayoutFor(product_id_), rows, width_bytes_, picture_);
  return true;
}

bool TextBitmapRenderer::Render(const char* text) {
  ReleaseFont();
  ReleaseCanvas();
  width_bytes_ = 0;
  if (!MakeCanvas() || !ChooseFont() || !Draw(text) || !Extract()) return false;
  ReleaseFont();
  ReleaseCanvas();
  return true;
}

Result TextBitmapRenderer::CopyToRecord(uint8_t* record) const {
  const tb::Layout layout = tb::LayoutFor(product_id_);
  if (layout == tb::Layout::kNone) return 1;
  record[57] = layout == tb::Layout::kRows ? 0 : 1;
  // A wide title asks for more than the picture holds; only the picture is copied.
  const uint32_t size = std::min(width_bytes_ * tb::BytesPerGroup(layout), tb::kPictureSize);
  std::memcpy(record + 512, picture_, size / 4 * 4);
  bytes::PutLe32(record + 20, bytes::Le32(record + 20) | 0x00400000u);
  record[56] = 0;
  bytes::PutLe16(record + 54, 12);
  bytes::PutLe16(record + 52, static_cast<uint16_t>(width_bytes_));
  return rc::kOk;
}
