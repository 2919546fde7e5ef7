// A family A file's id is the position of its record in the player's database, and the player
// alone chooses the position of a new file. Under each choice a simulated player can make,
// deletes after uploads into freed positions remove the track they name and no other.
#include <algorithm>
#include <string>
#include <vector>

#include "devices/flash/end_to_end_audio.h"
#include "devices/flash/end_to_end/end_to_end_fixture.h"

namespace {

using SlotPolicy = SimFlashPlayerA::SlotPolicy;

class FamilyASlotTest : public EndToEndTest, public testing::WithParamInterface<SlotPolicy> {
 protected:
  FamilyASlotTest() { family_a_->slot_policy = GetParam(); }

  // The titles of the files the player holds, sorted.
  std::vector<std::string> PlayerTitles() const {
    std::vector<std::string> titles;
    for (const SimDatabaseSlot& slot : family_a_->slots) {
      if (SimGetLe32(slot.record.data()) == 0) continue;
      const std::vector<uint8_t> record(slot.record.begin(), slot.record.end());
      titles.push_back(RecordText(record, 44, 48));
    }
    std::sort(titles.begin(), titles.end());
    return titles;
  }

  static HRESULT DeleteTrack(IMDSPDevice* device, const std::wstring& name) {
    ComRef<IMDSPStorage> track = Track(device, name);
    if (!track.Get()) return E_FAIL;
    return track.As<IMDSPObject>(IID_IMDSPObject)->Delete(0, nullptr);
  }
};

std::vector<std::string> Sorted(std::vector<std::string> titles) {
  std::sort(titles.begin(), titles.end());
  return titles;
}

TEST_P(FamilyASlotTest, DeletesAfterUploadsIntoFreedPositionsRemoveTheTrackNamed) {
  const std::string road = Audio("Road_Song.mp3").title, mono = Audio("Mono_Song.mp3").title,
                    windows = Audio("Windows_Song.wma").title;
  IMDSPDevice* pirn = DeviceNamed(List(), L"Qel Pirn");
  ASSERT_EQ(S_OK, Upload(pirn, L"Road_Song.mp3", Bytes(Audio("Road_Song.mp3"))));
  // The old track's position is freed; the next two uploads go where the player puts them.
  ASSERT_EQ(S_OK, DeleteTrack(pirn, L"Old Song.mp3"));
  ASSERT_EQ(S_OK, Upload(pirn, L"Mono_Song.mp3", Bytes(Audio("Mono_Song.mp3"))));
  ASSERT_EQ(S_OK, Upload(pirn, L"Windows_Song.wma", Bytes(Audio("Windows_Song.wma"))));
  EXPECT_EQ(Sorted({road, mono, windows}), PlayerTitles());
  EXPECT_EQ(GetParam() == SlotPolicy::kAppend ? 4u : 3u, family_a_->slots.size());

  EXPECT_EQ(S_OK, DeleteTrack(pirn, L"Windows Song.wma"));
  EXPECT_EQ(Sorted({road, mono}), PlayerTitles());
  EXPECT_EQ(S_OK, DeleteTrack(pirn, L"Mono Song.mp3"));
  EXPECT_EQ(std::vector<std::string>{road}, PlayerTitles());
  EXPECT_TRUE(family_a_->refusals.empty());

  // The WMDM device and a new listing agree with the player.
  EXPECT_EQ(std::vector<std::wstring>{L"Road Song.mp3"}, TrackNames(pirn));
  EXPECT_EQ(std::vector<std::wstring>{L"Road Song.mp3"}, TrackNames(DeviceNamed(List(), L"Qel Pirn")));
  EXPECT_EQ(0, BusyCount());
}

INSTANTIATE_TEST_SUITE_P(PlayerChoices, FamilyASlotTest,
                         testing::Values(SlotPolicy::kLowestFree, SlotPolicy::kAppend),
                         [](const testing::TestParamInfo<SlotPolicy>& info) {
                           return info.param == SlotPolicy::kAppend ? "Append" : "LowestFree";
                         });

}  // namespace
