#include "devices/msc/track_file_name.h"

#include <gtest/gtest.h>

#include <string>

#include "media/property_holder.h"

namespace {

struct TrackTags {
  const char* source;
  int tracknr;  // 0: absent
  const char* title;
  const char* artist;
};

struct ExpansionCase {
  const char* path_template;
  TrackTags tags;
  const char* expected;
};

const TrackTags kBestOf = {"Best Of", 3, "Song", "Band"};

class ExpandTrackFileNameTest : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(ExpandTrackFileNameTest, Expands) {
  const ExpansionCase& c = GetParam();
  PropertyHolder track;
  if (c.tags.source) track.SetString("source", c.tags.source);
  if (c.tags.tracknr) track.SetInt("tracknr", c.tags.tracknr);
  if (c.tags.title) track.SetString("title", c.tags.title);
  if (c.tags.artist) track.SetString("artist", c.tags.artist);
  EXPECT_EQ(ExpandTrackFileName(c.path_template, *track.GetSet()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, ExpandTrackFileNameTest,
    ::testing::Values(
        ExpansionCase{"Music\\%T\\%-%N", kBestOf, "Music\\Best Of\\03 - Song"},
        ExpansionCase{"Music\\%T\\%-%N", {nullptr, 3, "Song", nullptr}, "Music\\03 - Song"},
        ExpansionCase{"Music\\%T\\%-%N", {"", 3, "Song", nullptr}, "Music\\03 - Song"},
        ExpansionCase{"Music\\%T\\%-%N", {"Best Of", 0, "Song", nullptr}, "Music\\Best Of\\Song"},
        ExpansionCase{"Music\\%T\\%-%N", {"Best Of", -4, "Song", nullptr}, "Music\\Best Of\\Song"},
        ExpansionCase{"Music\\%T\\%-%N", {"Best Of", 3, "AC/DC: Live?", nullptr},
                      "Music\\Best Of\\03 - ACDC Live"},
        ExpansionCase{"Music\\%T\\%-%N", {nullptr, 0, nullptr, nullptr}, "Music\\"},
        ExpansionCase{"Music\\%N", kBestOf, "Music\\Song"},
        ExpansionCase{"100%% %x", kBestOf, "100% "},
        ExpansionCase{"%%N", kBestOf, "%N"},
        ExpansionCase{"", kBestOf, ""},
        ExpansionCase{"%N", {nullptr, 0, "con", nullptr}, "con_"},
        ExpansionCase{"%N", {nullptr, 0, "CON", nullptr}, "CON_"},
        ExpansionCase{"%a%t%R|%A", kBestOf, "Band - Best Of - Band_|Band"},
        ExpansionCase{"%a%t%R", {nullptr, 0, nullptr, nullptr}, ""},
        ExpansionCase{"%a.", {nullptr, 0, nullptr, "?*"}, " - ."},  // sanitised away: separator stays
        ExpansionCase{"%#|% |%_|%-", kBestOf, "03|03 |03_|03 - "},
        ExpansionCase{"%#|% |%_|%-", {nullptr, 0, nullptr, nullptr}, "|||"},
        ExpansionCase{"%#", {nullptr, 123, nullptr, nullptr}, "123"},
        ExpansionCase{"%n%r%s", kBestOf, ""},
        ExpansionCase{"a\\\\\\b", kBestOf, "a\\\\b"},        // the pair at the second char stays
        ExpansionCase{"ab\\\\\\c\\\\d", kBestOf, "ab\\c\\d"},  // runs collapse to one
        ExpansionCase{"\\\\srv\\%T", kBestOf, "\\\\srv\\Best Of"},
        ExpansionCase{"\\\\", kBestOf, "\\\\"},
        ExpansionCase{"Music\\%N%", kBestOf, "Music\\Song"}));

TEST(ExpandTrackFileNameRefTest, LeavesTheCallersReference) {
  PropertyHolder track;
  track.SetString("title", "Song");
  RefPtr<PropertySet> set = track.GetSet();
  EXPECT_EQ(ExpandTrackFileName("%N", *set), "Song");
  set->SetString("title", "Again");  // still alive and usable
  EXPECT_EQ(track.GetString("title"), "Again");
}

}  // namespace
