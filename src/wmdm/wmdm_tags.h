// Metadata tag names of IWMDMMetaData and device property names. WMDM compares names by their
// text, so only the strings matter.
#pragma once

#include <windows.h>

#define TORVEX_WMDM_TAG(name) inline constexpr WCHAR g_wszWMDM##name[] = L"WMDM/" #name;

TORVEX_WMDM_TAG(Title)
TORVEX_WMDM_TAG(Author)  // the artist; there is no separate artist tag
TORVEX_WMDM_TAG(AlbumArtist)
TORVEX_WMDM_TAG(AlbumTitle)
TORVEX_WMDM_TAG(Genre)
TORVEX_WMDM_TAG(Year)
TORVEX_WMDM_TAG(Track)     // DWORD track number
TORVEX_WMDM_TAG(Duration)  // QWORD, 100-ns units
TORVEX_WMDM_TAG(Bitrate)
TORVEX_WMDM_TAG(FileSize)
TORVEX_WMDM_TAG(Codec)
TORVEX_WMDM_TAG(FileName)
TORVEX_WMDM_TAG(FormatCode)
TORVEX_WMDM_TAG(LastModifiedDate)
TORVEX_WMDM_TAG(FileCreationDate)
TORVEX_WMDM_TAG(FileAttributes)
TORVEX_WMDM_TAG(Description)
TORVEX_WMDM_TAG(IsProtected)
TORVEX_WMDM_TAG(Composer)
TORVEX_WMDM_TAG(TrackMood)
TORVEX_WMDM_TAG(DRMId)
TORVEX_WMDM_TAG(BitRateType)
TORVEX_WMDM_TAG(SampleRate)
TORVEX_WMDM_TAG(NumChannels)
TORVEX_WMDM_TAG(BlockAlignment)
TORVEX_WMDM_TAG(AudioBitDepth)
TORVEX_WMDM_TAG(TotalBitrate)
TORVEX_WMDM_TAG(VideoBitrate)
TORVEX_WMDM_TAG(FrameRate)
TORVEX_WMDM_TAG(ScanType)
TORVEX_WMDM_TAG(KeyFrameDistance)
TORVEX_WMDM_TAG(BufferSize)
TORVEX_WMDM_TAG(QualitySetting)
TORVEX_WMDM_TAG(EncodingProfile)
TORVEX_WMDM_TAG(AlbumArt)
TORVEX_WMDM_TAG(AlbumCoverFormat)
TORVEX_WMDM_TAG(AlbumCoverSize)
TORVEX_WMDM_TAG(AlbumCoverHeight)
TORVEX_WMDM_TAG(AlbumCoverWidth)
TORVEX_WMDM_TAG(AlbumCoverDuration)
TORVEX_WMDM_TAG(AlbumCoverData)
TORVEX_WMDM_TAG(BuyNow)
TORVEX_WMDM_TAG(NonConsumable)
TORVEX_WMDM_TAG(MediaClassSecondaryID)
TORVEX_WMDM_TAG(UserEffectiveRating)
TORVEX_WMDM_TAG(UserRating)
TORVEX_WMDM_TAG(UserRatingOnDevice)
TORVEX_WMDM_TAG(PlayCount)
TORVEX_WMDM_TAG(DevicePlayCount)
TORVEX_WMDM_TAG(AuthorDate)
TORVEX_WMDM_TAG(UserLastPlayTime)
TORVEX_WMDM_TAG(SyncTime)
TORVEX_WMDM_TAG(MediaOriginalBroadcastDateTime)
TORVEX_WMDM_TAG(SubTitle)
TORVEX_WMDM_TAG(SubTitleDescription)
TORVEX_WMDM_TAG(MediaCredits)
TORVEX_WMDM_TAG(MediaStationName)
TORVEX_WMDM_TAG(MediaOriginalChannel)
TORVEX_WMDM_TAG(ProviderCopyright)
TORVEX_WMDM_TAG(SyncID)
TORVEX_WMDM_TAG(ParentalRating)
TORVEX_WMDM_TAG(MetaGenre)
TORVEX_WMDM_TAG(PersistentUniqueID)
TORVEX_WMDM_TAG(Width)
TORVEX_WMDM_TAG(Height)
TORVEX_WMDM_TAG(IsRepeat)
TORVEX_WMDM_TAG(Owner)
TORVEX_WMDM_TAG(Editor)
TORVEX_WMDM_TAG(Webmaster)
TORVEX_WMDM_TAG(SourceURL)
TORVEX_WMDM_TAG(DestinationURL)
TORVEX_WMDM_TAG(Category)
TORVEX_WMDM_TAG(ObjectBookmark)
TORVEX_WMDM_TAG(MediaGuid)
TORVEX_WMDM_TAG(TimeBookmark)
TORVEX_WMDM_TAG(ByteBookmark)
TORVEX_WMDM_TAG(DataOffset)
TORVEX_WMDM_TAG(DataLength)
TORVEX_WMDM_TAG(TimeToLive)
TORVEX_WMDM_TAG(DataUnits)

// Device properties (IMDSPDevice3::GetProperty)
TORVEX_WMDM_TAG(SupportedDeviceProperties)
TORVEX_WMDM_TAG(DeviceFriendlyName)
TORVEX_WMDM_TAG(FormatsSupported)
TORVEX_WMDM_TAG(FormatsSupportedAreOrdered)
TORVEX_WMDM_TAG(SyncRelationshipID)
TORVEX_WMDM_TAG(DeviceModelName)
TORVEX_WMDM_TAG(DeviceFirmwareVersion)
TORVEX_WMDM_TAG(DeviceVendorExtension)
TORVEX_WMDM_TAG(DeviceProtocol)
TORVEX_WMDM_TAG(DeviceServiceProviderVendor)
TORVEX_WMDM_TAG(DeviceRevocationInfo)
TORVEX_WMDM_TAG(CollectionID)

#undef TORVEX_WMDM_TAG

// The names that do not follow the g_wszWMDM<name> pattern.
inline constexpr WCHAR g_wszAudioWAVECodec[] = L"WMDM/AudioWAVECodec";
inline constexpr WCHAR g_wszVideoFourCCCodec[] = L"WMDM/VideoFourCCCodec";
inline constexpr WCHAR g_wszWMDMediaClassPrimaryID[] = L"WMDM/MediaClassPrimaryID";
inline constexpr WCHAR g_wszWPDPassthroughPropertyValues[] = L"WPD/PassthroughPropertyValues";

// Characters of the longest name ("WMDM/MediaOriginalBroadcastDateTime") with its NUL.
constexpr UINT WMDM_MAXLEN_PROPERTYNAME = 36;
