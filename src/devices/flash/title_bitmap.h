// Titles that a flash family C player cannot draw as text (characters outside plain ASCII) are
// drawn with a GDI font into a small monochrome picture carried in the 2048-byte file record.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/result_codes.h"

namespace title_bitmap {

// The canvas the text is drawn on, read back as top-down rows of 1 bit per pixel, most
// significant bit leftmost, 0 = ink.
constexpr uint32_t kCanvasWidth = 336;
constexpr uint32_t kCanvasHeight = 14;
constexpr uint32_t kCanvasStride = 44;  // 42 bytes of pixels, padded to a multiple of 4
constexpr uint32_t kCanvasBytes = kCanvasStride * kCanvasHeight;
constexpr uint32_t kPictureSize = 512;

enum class Layout {
  kNone,
  kRows,     // per 8 columns: 12 bytes, one per canvas row 0-11, 1 = ink, MSB leftmost
  kColumns,  // per column: a 16-bit LE word, bit r set when row r is ink
};

Layout LayoutFor(uint16_t product_id);
// Bytes of picture per 8 pixels of width (0 for kNone).
uint32_t BytesPerGroup(Layout layout);

// Fills `picture` (kPictureSize bytes, zeroed first) from `canvas` (kCanvasBytes) over
// `width_bytes` groups of 8 columns. Groups past the canvas or past the picture are left out.
void Pack(Layout layout, const uint8_t* canvas, uint32_t width_bytes, uint8_t* picture);

}  // namespace title_bitmap

// One per encoded record; lives on the encoder's stack.
class TextBitmapRenderer {
 public:
  explicit TextBitmapRenderer(uint16_t product_id) : product_id_(product_id) {}
  ~TextBitmapRenderer();
  TextBitmapRenderer(const TextBitmapRenderer&) = delete;
  TextBitmapRenderer& operator=(const TextBitmapRenderer&) = delete;

  // Draws the ANSI text with the largest system font whose cell is under 14 pixels; false
  // when any GDI step fails (the record then goes without a picture).
  bool Render(const char* text);
  // Places the picture in the 2048-byte file record: 0, or 1 when the player takes none.
  // The width field carries the full width even when the picture holds only its start.
  Result CopyToRecord(uint8_t* record) const;

  // Drawn width in bytes (pixels / 8, rounded up).
  uint32_t WidthBytes() const { return width_bytes_; }
  const uint8_t* Picture() const { return picture_; }

 private:
  bool MakeCanvas();
  bool ChooseFont();
  bool Draw(const char* text);
  bool Extract();
  void ReleaseFont();
  void ReleaseCanvas();

  uint16_t product_id_;
  uint8_t picture_[title_bitmap::kPictureSize] = {};
  uint32_t width_bytes_ = 0;
  HDC dc_ = nullptr;
  HBITMAP canvas_ = nullptr;
  HGDIOBJ previous_bitmap_ = nullptr;
  HFONT font_ = nullptr;
  HGDIOBJ previous_font_ = nullptr;
};
