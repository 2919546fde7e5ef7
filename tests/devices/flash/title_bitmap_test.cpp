#include "devices/flash/title_bitmap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_order.h"

namespace {

namespace tb = title_bitmap;

// A white canvas on which single pixels are inked (bit cleared).
class Canvas {
 public:
  Canvas() : bytes_(tb::kCanvasBytes, 0xFF) {}
  Canvas& Ink(uint32_t row, uint32_t x) {
    bytes_[row * tb::kCanvasStride + x / 8] &= static_cast<uint8_t>(~(0x80u >> (x % 8)));
    return *this;
  }
  const uint8_t* Data() const { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
};

// The picture buffer with a guard after it that Pack must never touch.
struct Picture {
  static constexpr uint32_t kGuard = 64;
  Picture() : bytes(tb::kPictureSize + kGuard, 0xA5) {}
  uint8_t* Data() { return bytes.data(); }
  bool GuardIntact() const {
    for (uint32_t i = tb::kPictureSize; i < bytes.size(); ++i) {
      if (bytes[i] != 0xA5) return false;
    }
    return true;
  }
  std::vector<uint8_t> bytes;
};

std::vector<uint32_t> NonZeroOffsets(const uint8_t* picture) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < tb::kPictureSize; ++i) {
    if (picture[i] != 0) out.push_back(i);
  }
  return out;
}

TEST(TitleBitmapTest, LayoutByProduct) {
  EXPECT_EQ(tb::Layout::kRows, tb::LayoutFor(0x5001));
  EXPECT_EQ(tb::Layout::kColumns, tb::LayoutFor(0x5002));
  EXPECT_EQ(tb::Layout::kColumns, tb::LayoutFor(0x5008));
  EXPECT_EQ(tb::Layout::kNone, tb::LayoutFor(0x5003));
}

TEST(TitleBitmapTest, PacksRows) {
  Canvas canvas;
  canvas.Ink(0, 0).Ink(11, 7).Ink(12, 0).Ink(3, 9).Ink(5, 16);
  Picture picture;
  tb::Pack(tb::Layout::kRows, canvas.Data(), 2, picture.Data());
  const uint8_t* p = picture.Data();
  EXPECT_EQ(0x80, p[0]);        // group 0, row 0, leftmost
  EXPECT_EQ(0x01, p[11]);       // group 0, row 11, rightmost
  EXPECT_EQ(0x40, p[12 + 3]);   // group 1, row 3, x 9
  // Row 12 is below the picture; x 16 is past the width.
  EXPECT_EQ((std::vector<uint32_t>{0, 11, 15}), NonZeroOffsets(p));
  EXPECT_TRUE(picture.GuardIntact());
}

TEST(TitleBitmapTest, PacksColumns) {
  Canvas canvas;
  canvas.Ink(0, 0).Ink(12, 0).Ink(13, 0).Ink(11, 7).Ink(3, 9).Ink(5, 16);
  Picture picture;
  tb::Pack(tb::Layout::kColumns, canvas.Data(), 2, picture.Data());
  const uint8_t* p = picture.Data();
  EXPECT_EQ(0x3001, bytes::Le16(p));           // column 0: rows 0, 12 and 13
  EXPECT_EQ(0x0800, bytes::Le16(p + 14));      // column 7: row 11
  EXPECT_EQ(0x0008, bytes::Le16(p + 16 + 2));  // column 9: row 3
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 15, 18}), NonZeroOffsets(p));
  EXPECT_TRUE(picture.GuardIntact());
}

TEST(TitleBitmapTest, WideTitlesStopAtThePictureAndTheCanvas) {
  Canvas canvas;
  canvas.Ink(0, 255).Ink(0, 256).Ink(0, 335).Ink(13, 335);
  const struct {
    tb::Layout layout;
    std::vector<uint32_t> inked;
  } cases[] = {
      // 32 groups of 16 bytes fill the picture: x 255 is the last column.
      {tb::Layout::kColumns, {510}},
      // 42 groups of 12 bytes: all of the canvas, rows 0-11 only.
      {tb::Layout::kRows, {31 * 12, 32 * 12, 41 * 12}},
  };
  for (const auto& c : cases) {
    Picture picture;
    tb::Pack(c.layout, canvas.Data(), 200, picture.Data());
    EXPECT_EQ(c.inked, NonZeroOffsets(picture.Data()));
    EXPECT_TRUE(picture.GuardIntact());
  }
}

TEST(TitleBitmapTest, NoLayoutNoPicture) {
  Canvas canvas;
  canvas.Ink(0, 0);
  Picture picture;
  tb::Pack(tb::Layout::kNone, canvas.Data(), 2, picture.Data());
  EXPECT_TRUE(NonZeroOffsets(picture.Data()).empty());

  TextBitmapRenderer renderer(0x5003);
  EXPECT_TRUE(renderer.Render("Song"));
  std::vector<uint8_t> record(2048, 0x5A);
  EXPECT_EQ(1, renderer.CopyToRecord(record.data()));
  EXPECT_EQ(std::vector<uint8_t>(2048, 0x5A), record);
}

TEST(TitleBitmapTest, RendersTextUnderGdi) {
  TextBitmapRenderer rows(0x5001);
  ASSERT_TRUE(rows.Render("Hello"));
  EXPECT_GT(rows.WidthBytes(), 0u);
  EXPECT_LT(rows.WidthBytes(), 42u);
  const std::vector<uint32_t> inked = NonZeroOffsets(rows.Picture());
  ASSERT_FALSE(inked.empty());
  EXPECT_LT(inked.back(), rows.WidthBytes() * 12);

  // The same text in the columns layout carries the same ink in rows 0-11.
  TextBitmapRenderer columns(0x5002);
  ASSERT_TRUE(columns.Render("Hello"));
  ASSERT_EQ(rows.WidthBytes(), columns.WidthBytes());
  for (uint32_t x = 0; x < rows.WidthBytes() * 8; ++x) {
    const uint16_t word = bytes::Le16(columns.Picture() + x * 2);
    for (uint32_t row = 0; row < 12; ++row) {
      const bool in_rows = (rows.Picture()[x / 8 * 12 + row] >> (7 - x % 8) & 1) != 0;
      EXPECT_EQ(in_rows, (word >> row & 1) != 0) << "x " << x << " row " << row;
    }
  }
}

TEST(TitleBitmapTest, EmptyTitleStillMarksTheRecord) {
  TextBitmapRenderer renderer(0x5002);
  ASSERT_TRUE(renderer.Render(""));
  EXPECT_EQ(0u, renderer.WidthBytes());
  std::vector<uint8_t> record(2048, 0x5A);
  EXPECT_EQ(rc::kOk, renderer.CopyToRecord(record.data()));
  EXPECT_EQ(0x5A5A5A5Au | 0x00400000u, bytes::Le32(&record[20]));
  EXPECT_EQ(0u, bytes::Le16(&record[52]));
  EXPECT_EQ(12u, bytes::Le16(&record[54]));
  EXPECT_EQ(0, record[56]);
  EXPECT_EQ(1, record[57]);
  EXPECT_EQ(0x5A, record[512]);  // a picture of 0 bytes
}

TEST(TitleBitmapTest, WideTitleCopiesOnlyThePicture) {
  TextBitmapRenderer renderer(0x5008);
  ASSERT_TRUE(renderer.Render(std::string(80, 'W').c_str()));
  ASSERT_GT(renderer.WidthBytes(), 32u);  // asks for more than 512 bytes
  std::vector<uint8_t> record(2048, 0x5A);
  EXPECT_EQ(rc::kOk, renderer.CopyToRecord(record.data()));
  EXPECT_EQ(renderer.WidthBytes(), bytes::Le16(&record[52]));
  EXPECT_EQ(std::vector<uint8_t>(renderer.Picture(), renderer.Picture() + 512),
            std::vector<uint8_t>(record.begin() + 512, record.begin() + 1024));
  EXPECT_EQ(std::vector<uint8_t>(1024, 0x5A),
            std::vector<uint8_t>(record.begin() + 1024, record.end()));
  EXPECT_EQ(1, record[57]);
}

}  // namespace
