#include <gtest/gtest.h>

#include "media/metadata_editor.h"
#include "testlib/fake_clock.h"
#include "testlib/fake_metadata_editor.h"

namespace {

TEST(AsfMetadataEditorTest, StringAttributesEndAtTheirZeroAndNeedTheirType) {
  FakeMetadataEditor editor;
  editor.AddString(L"Title", L"Song");
  editor.attributes.push_back({L"Author", MetadataType::kString, std::string("A\0B\0\0\0C\0", 8)});
  editor.AddDword(L"WM/Genre", 5);
  editor.attributes.push_back({L"Odd", MetadataType::kString, std::string("X\0Y", 3)});
  ASSERT_EQ(rc::kOk, editor.Open(L"x.wma"));
  EXPECT_EQ(L"Song", MetadataString(&editor, L"Title"));
  EXPECT_EQ(L"AB", MetadataString(&editor, L"Author"));
  EXPECT_EQ(L"", MetadataString(&editor, L"WM/Genre"));
  EXPECT_EQ(L"", MetadataString(&editor, L"Missing"));
  EXPECT_EQ(L"X", MetadataString(&editor, L"Odd"));  // a half unit is dropped
}

TEST(AsfMetadataEditorTest, QwordAttributesWidenDoubleWordsOnly) {
  FakeMetadataEditor editor;
  editor.AddQword(L"Duration", 0x1122334455667788ull);
  editor.AddDword(L"Short", 0xFEDCBA98u);
  editor.AddString(L"Text", L"12");
  editor.attributes.push_back({L"Cut", MetadataType::kQword, std::string("\1\2\3", 3)});
  editor.attributes.push_back({L"Word", MetadataType::kWord, std::string("\1\2", 2)});
  ASSERT_EQ(rc::kOk, editor.Open(L"x.wma"));
  EXPECT_EQ(0x1122334455667788ull, MetadataQword(&editor, L"Duration"));
  EXPECT_EQ(0xFEDCBA98ull, MetadataQword(&editor, L"Short"));
  for (const wchar_t* name : {L"Text", L"Cut", L"Word", L"Missing"})
    EXPECT_EQ(0u, MetadataQword(&editor, name));
}

// Wine has no working editor: the platform's must fail plainly, read nothing, and close
// without waiting when nothing was opened.
TEST(AsfMetadataEditorTest, PlatformEditorWithoutWmvCoreFailsPlainly) {
  FakeClock clock;
  std::unique_ptr<MetadataEditor> editor = CreateWmMetadataEditor(&clock);
  ASSERT_NE(nullptr, editor);
  const Result opened = editor->Open(L"Z:\\nonexistent\\none.wma");
  if (opened == rc::kOk) GTEST_SKIP() << "this system has a metadata editor";
  EXPECT_TRUE(rc::Failed(opened));
  MetadataAttribute attribute;
  EXPECT_TRUE(rc::Failed(editor->GetAttributeByName(L"Title", &attribute)));
  uint16_t count = 0;
  EXPECT_TRUE(rc::Failed(editor->GetAttributeCount(&count)));
  EXPECT_EQ(L"", MetadataString(editor.get(), L"Title"));
  editor->Close();
  editor->Close();
}

}  // namespace
