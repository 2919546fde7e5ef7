// Pins the hand-written WMDM declarations to WMDM's binary interface: interface ids, structure
// layouts and vtable slots. The expected values are WMDM's published ones, written out here
// independently of the header.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/text_convert.h"
#include "wmdm/wmdm_interfaces.h"

namespace {

std::string GuidString(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return WideToUtf8(text);
}

TEST(WmdmAbi, InterfaceIdsMatchWmdm) {
  const struct {
    const IID& iid;
    const char* expected;
  } cases[] = {
      {IID_IMDServiceProvider, "{1DCB3A10-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDServiceProvider2, "{B2FA24B7-CDA3-4694-9862-413AE1A34819}"},
      {IID_IMDSPEnumDevice, "{1DCB3A11-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPDevice, "{1DCB3A12-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPDevice2, "{420D16AD-C97D-4E00-82AA-00E9F4335DDD}"},
      {IID_IMDSPDeviceControl, "{1DCB3A14-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPEnumStorage, "{1DCB3A15-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPStorage, "{1DCB3A16-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPStorage2, "{0A5E07A5-6454-4451-9C36-1C6AE7E2B1D6}"},
      {IID_IMDSPStorage3, "{6C669867-97ED-4A67-9706-1C5529D2A414}"},
      {IID_IMDSPStorageGlobals, "{1DCB3A17-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPObject, "{1DCB3A18-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IMDSPObjectInfo, "{1DCB3A19-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IWMDMProgress, "{1DCB3A0C-33ED-11D3-8470-00C04F79DBC0}"},
      {IID_IWMDMProgress2, "{3A43F550-B383-4E92-B04A-E6BBC660FEFC}"},
      {IID_IWMDMMetaData, "{EC3B0663-0951-460A-9A80-0DCEED3C043C}"},
      {IID_IWMDMLogger, "{110A3200-5A79-11D3-8D78-444553540000}"},
      {CLSID_WMDMLogger, "{110A3202-5A79-11D3-8D78-444553540000}"},
  };
  for (const auto& c : cases) EXPECT_EQ(GuidString(c.iid), c.expected);
}

// The layouts again at compile time, for the target being built: the shipped 32-bit DLL is
// checked by its own build, where no test runs.
#define TORVEX_LAYOUT(type, member, offset) \
  static_assert(offsetof(type, member) == (offset), #type "::" #member)
static_assert(sizeof(WMDMID) == 140, "WMDMID");
TORVEX_LAYOUT(WMDMID, dwVendorID, 4);
TORVEX_LAYOUT(WMDMID, pID, 8);
TORVEX_LAYOUT(WMDMID, SerialNumberLength, 136);
static_assert(sizeof(WMDMDATETIME) == 12 && alignof(WMDMDATETIME) == 2, "WMDMDATETIME");
TORVEX_LAYOUT(WMDMDATETIME, wSecond, 10);
static_assert(sizeof(WMDMRIGHTS) == 36, "WMDMRIGHTS");
TORVEX_LAYOUT(WMDMRIGHTS, dwPlaybackCount, 20);
TORVEX_LAYOUT(WMDMRIGHTS, ExpirationDate, 24);
static_assert(sizeof(WMDM_WAVEFORMATEX) == 20, "WMDM_WAVEFORMATEX");
TORVEX_LAYOUT(WMDM_WAVEFORMATEX, nSamplesPerSec, 4);
TORVEX_LAYOUT(WMDM_WAVEFORMATEX, nAvgBytesPerSec, 8);
TORVEX_LAYOUT(WMDM_WAVEFORMATEX, nBlockAlign, 12);
TORVEX_LAYOUT(WMDM_WAVEFORMATEX, cbSize, 16);
static_assert(sizeof(WMDM_BITMAPINFOHEADER) == 40, "WMDM_BITMAPINFOHEADER");
static_assert(sizeof(WMDM_VIDEOINFOHEADER) == 88, "WMDM_VIDEOINFOHEADER");
TORVEX_LAYOUT(WMDM_VIDEOINFOHEADER, AvgTimePerFrame, 40);
TORVEX_LAYOUT(WMDM_VIDEOINFOHEADER, bmiHeader, 48);
TORVEX_LAYOUT(OPAQUECOMMAND, dwDataLen, 16);
static_assert(sizeof(OPAQUECOMMAND{}.abMAC) == 20, "OPAQUECOMMAND::abMAC");
static_assert(sizeof(WMDM_FORMATCODE) == 4, "WMDM_FORMATCODE");
#ifdef _WIN64
TORVEX_LAYOUT(OPAQUECOMMAND, pData, 24);
TORVEX_LAYOUT(OPAQUECOMMAND, abMAC, 32);
static_assert(sizeof(OPAQUECOMMAND) == 56, "OPAQUECOMMAND");
#else
TORVEX_LAYOUT(OPAQUECOMMAND, pData, 20);
TORVEX_LAYOUT(OPAQUECOMMAND, abMAC, 24);
static_assert(sizeof(OPAQUECOMMAND) == 44, "OPAQUECOMMAND");
#endif
#undef TORVEX_LAYOUT

TEST(WmdmAbi, StructureLayouts) {
  EXPECT_EQ(sizeof(WMDMID), 140u);
  EXPECT_EQ(offsetof(WMDMID, dwVendorID), 4u);
  EXPECT_EQ(offsetof(WMDMID, pID), 8u);
  EXPECT_EQ(offsetof(WMDMID, SerialNumberLength), 136u);

  EXPECT_EQ(sizeof(WMDMDATETIME), 12u);
  EXPECT_EQ(alignof(WMDMDATETIME), 2u);
  EXPECT_EQ(offsetof(WMDMDATETIME, wSecond), 10u);

  EXPECT_EQ(sizeof(WMDMRIGHTS), 36u);
  EXPECT_EQ(offsetof(WMDMRIGHTS, dwPlaybackCount), 20u);
  EXPECT_EQ(offsetof(WMDMRIGHTS, ExpirationDate), 24u);

  // 18 bytes of fields and 2 of tail padding: the stride of the arrays handed to WMDM.
  EXPECT_EQ(sizeof(WMDM_WAVEFORMATEX), 20u);
  EXPECT_EQ(offsetof(WMDM_WAVEFORMATEX, nSamplesPerSec), 4u);
  EXPECT_EQ(offsetof(WMDM_WAVEFORMATEX, nAvgBytesPerSec), 8u);
  EXPECT_EQ(offsetof(WMDM_WAVEFORMATEX, nBlockAlign), 12u);
  EXPECT_EQ(offsetof(WMDM_WAVEFORMATEX, cbSize), 16u);

  EXPECT_EQ(sizeof(WMDM_BITMAPINFOHEADER), 40u);
  EXPECT_EQ(sizeof(WMDM_VIDEOINFOHEADER), 88u);
  EXPECT_EQ(offsetof(WMDM_VIDEOINFOHEADER, AvgTimePerFrame), 40u);
  EXPECT_EQ(offsetof(WMDM_VIDEOINFOHEADER, bmiHeader), 48u);
}

TEST(WmdmAbi, OpaqueCommandLayoutFollowsPointerSize) {
  EXPECT_EQ(offsetof(OPAQUECOMMAND, dwDataLen), 16u);
  if (sizeof(void*) == 8) {
    EXPECT_EQ(offsetof(OPAQUECOMMAND, pData), 24u);
    EXPECT_EQ(offsetof(OPAQUECOMMAND, abMAC), 32u);
    EXPECT_EQ(sizeof(OPAQUECOMMAND), 56u);
  } else {
    EXPECT_EQ(offsetof(OPAQUECOMMAND, pData), 20u);
    EXPECT_EQ(offsetof(OPAQUECOMMAND, abMAC), 24u);
    EXPECT_EQ(sizeof(OPAQUECOMMAND), 44u);
  }
  EXPECT_EQ(sizeof(OPAQUECOMMAND{}.abMAC), 20u);
}

TEST(WmdmAbi, ConstantsMatchWmdm) {
  EXPECT_EQ(static_cast<uint32_t>(WMDM_E_INTERFACEDEAD), 0x80045001u);
  EXPECT_EQ(static_cast<uint32_t>(WMDM_E_NOTSUPPORTED), 0x80045004u);
  EXPECT_EQ(static_cast<uint32_t>(WMDM_E_CALL_OUT_OF_SEQUENCE), 0x80045007u);
  EXPECT_EQ(static_cast<uint32_t>(WMDM_E_BUFFERTOOSMALL), 0x80045008u);
  EXPECT_EQ(static_cast<uint32_t>(WMDM_E_TOO_MANY_SESSIONS), 0x80045013u);
  // The device type the provider reports: playback, record, storage, SDMI and non-SDMI.
  EXPECT_EQ(WMDM_DEVICE_TYPE_PLAYBACK | WMDM_DEVICE_TYPE_RECORD | WMDM_DEVICE_TYPE_STORAGE |
                WMDM_DEVICE_TYPE_SDMI | WMDM_DEVICE_TYPE_NONSDMI,
            0xD3u);
  EXPECT_EQ(WMDM_STATUS_STORAGECONTROL_READING, 0x20000u);
  EXPECT_EQ(WMDM_FILE_ATTR_FILE, 0x20u);
  EXPECT_EQ(WMDM_FILE_ATTR_MUSIC, 0x80000u);
  EXPECT_EQ(WMDM_STORAGE_ATTR_VIRTUAL, 0x20000000u);
  EXPECT_EQ(WMDM_STORAGECAP_NOT_INITIALIZABLE, 0x40u);
  EXPECT_EQ(WMDM_MODE_RECURSIVE, 0x1000u);
  EXPECT_EQ(MDSP_SEEK_EOF, 0x4u);
  EXPECT_EQ(WMDM_LOG_SEV_ERROR, 0x4u);
  EXPECT_EQ(static_cast<int>(WMDM_TYPE_DATE), 7);
  EXPECT_EQ(static_cast<uint32_t>(WMDM_FORMATCODE_M4A), 0x4D503441u);
  EXPECT_EQ(sizeof(WMDM_FORMATCODE), 4u);
}

TEST(WmdmAbi, MetadataTagNames) {
  const struct {
    const wchar_t* name;
    const wchar_t* expected;
  } cases[] = {
      {g_wszWMDMTitle, L"WMDM/Title"},
      {g_wszWMDMAuthor, L"WMDM/Author"},
      {g_wszWMDMAlbumTitle, L"WMDM/AlbumTitle"},
      {g_wszWMDMTrack, L"WMDM/Track"},
      {g_wszWMDMDuration, L"WMDM/Duration"},
      {g_wszWMDMFileSize, L"WMDM/FileSize"},
      {g_wszWMDMFormatCode, L"WMDM/FormatCode"},
      {g_wszAudioWAVECodec, L"WMDM/AudioWAVECodec"},
      {g_wszWMDMediaClassPrimaryID, L"WMDM/MediaClassPrimaryID"},
      {g_wszWPDPassthroughPropertyValues, L"WPD/PassthroughPropertyValues"},
      {g_wszWMDMDeviceFriendlyName, L"WMDM/DeviceFriendlyName"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.name, c.expected);
  EXPECT_EQ(wcslen(g_wszWMDMMediaOriginalBroadcastDateTime) + 1, WMDM_MAXLEN_PROPERTYNAME);
}

// The vtable slot of a virtual member function. g++ (also for mingw) represents a pointer to
// a virtual member as 1 + the byte offset of its vtable entry.
template <typename Method>
int SlotOf(Method method) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } rep;
  static_assert(sizeof(method) == sizeof(rep), "Itanium member-pointer layout");
  std::memcpy(&rep, &method, sizeof(rep));
  if ((rep.ptr & 1) == 0) return -1;  // not virtual
  return static_cast<int>((rep.ptr - 1) / sizeof(void*));
}

struct SlotCase {
  int actual;
  int expected;
  const char* method;
};

#define SLOT(iface, method, slot) SlotCase{SlotOf(&iface::method), slot, #iface "::" #method}

TEST(WmdmAbi, VtableSlots) {
  const SlotCase cases[] = {
      SLOT(IMDServiceProvider, AddRef, 1),  // QueryInterface is overloaded in mingw's IUnknown
      SLOT(IMDServiceProvider, Release, 2),
      SLOT(IMDServiceProvider, GetDeviceCount, 3),
      SLOT(IMDServiceProvider, EnumDevices, 4),
      SLOT(IMDServiceProvider2, CreateDevice, 5),
      SLOT(IMDSPEnumDevice, Next, 3),
      SLOT(IMDSPEnumDevice, Skip, 4),
      SLOT(IMDSPEnumDevice, Reset, 5),
      SLOT(IMDSPEnumDevice, Clone, 6),
      SLOT(IMDSPDevice, GetName, 3),
      SLOT(IMDSPDevice, GetManufacturer, 4),
      SLOT(IMDSPDevice, GetVersion, 5),
      SLOT(IMDSPDevice, GetType, 6),
      SLOT(IMDSPDevice, GetSerialNumber, 7),
      SLOT(IMDSPDevice, GetPowerSource, 8),
      SLOT(IMDSPDevice, GetStatus, 9),
      SLOT(IMDSPDevice, GetDeviceIcon, 10),
      SLOT(IMDSPDevice, EnumStorage, 11),
      SLOT(IMDSPDevice, GetFormatSupport, 12),
      SLOT(IMDSPDevice, SendOpaqueCommand, 13),
      SLOT(IMDSPDevice2, GetStorage, 14),
      SLOT(IMDSPDevice2, GetFormatSupport2, 15),
      SLOT(IMDSPDevice2, GetSpecifyPropertyPages, 16),
      SLOT(IMDSPDevice2, GetCanonicalName, 17),
      SLOT(IMDSPDeviceControl, GetDCStatus, 3),
      SLOT(IMDSPDeviceControl, GetCapabilities, 4),
      SLOT(IMDSPDeviceControl, Play, 5),
      SLOT(IMDSPDeviceControl, Record, 6),
      SLOT(IMDSPDeviceControl, Pause, 7),
      SLOT(IMDSPDeviceControl, Resume, 8),
      SLOT(IMDSPDeviceControl, Stop, 9),
      SLOT(IMDSPDeviceControl, Seek, 10),
      SLOT(IMDSPEnumStorage, Next, 3),
      SLOT(IMDSPEnumStorage, Skip, 4),
      SLOT(IMDSPEnumStorage, Reset, 5),
      SLOT(IMDSPEnumStorage, Clone, 6),
      SLOT(IMDSPStorage, SetAttributes, 3),
      SLOT(IMDSPStorage, GetStorageGlobals, 4),
      SLOT(IMDSPStorage, GetAttributes, 5),
      SLOT(IMDSPStorage, GetName, 6),
      SLOT(IMDSPStorage, GetDate, 7),
      SLOT(IMDSPStorage, GetSize, 8),
      SLOT(IMDSPStorage, GetRights, 9),
      SLOT(IMDSPStorage, CreateStorage, 10),
      SLOT(IMDSPStorage, EnumStorage, 11),
      SLOT(IMDSPStorage, SendOpaqueCommand, 12),
      SLOT(IMDSPStorage2, GetStorage, 13),
      SLOT(IMDSPStorage2, CreateStorage2, 14),
      SLOT(IMDSPStorage2, SetAttributes2, 15),
      SLOT(IMDSPStorage2, GetAttributes2, 16),
      SLOT(IMDSPStorage3, GetMetadata, 17),
      SLOT(IMDSPStorage3, SetMetadata, 18),
      SLOT(IMDSPStorageGlobals, GetCapabilities, 3),
      SLOT(IMDSPStorageGlobals, GetSerialNumber, 4),
      SLOT(IMDSPStorageGlobals, GetTotalSize, 5),
      SLOT(IMDSPStorageGlobals, GetTotalFree, 6),
      SLOT(IMDSPStorageGlobals, GetTotalBad, 7),
      SLOT(IMDSPStorageGlobals, GetStatus, 8),
      SLOT(IMDSPStorageGlobals, Initialize, 9),
      SLOT(IMDSPStorageGlobals, GetDevice, 10),
      SLOT(IMDSPStorageGlobals, GetRootStorage, 11),
      SLOT(IMDSPObject, Open, 3),
      SLOT(IMDSPObject, Read, 4),
      SLOT(IMDSPObject, Write, 5),
      SLOT(IMDSPObject, Delete, 6),
      SLOT(IMDSPObject, Seek, 7),
      SLOT(IMDSPObject, Rename, 8),
      SLOT(IMDSPObject, Move, 9),
      SLOT(IMDSPObject, Close, 10),
      SLOT(IMDSPObjectInfo, GetPlayLength, 3),
      SLOT(IMDSPObjectInfo, SetPlayLength, 4),
      SLOT(IMDSPObjectInfo, GetPlayOffset, 5),
      SLOT(IMDSPObjectInfo, SetPlayOffset, 6),
      SLOT(IMDSPObjectInfo, GetTotalLength, 7),
      SLOT(IMDSPObjectInfo, GetLastPlayPosition, 8),
      SLOT(IMDSPObjectInfo, GetLongestPlayPosition, 9),
      SLOT(IWMDMProgress, Begin, 3),
      SLOT(IWMDMProgress, Progress, 4),
      SLOT(IWMDMProgress, End, 5),
      SLOT(IWMDMProgress2, End2, 6),
      SLOT(IWMDMMetaData, AddItem, 3),
      SLOT(IWMDMMetaData, QueryByName, 4),
      SLOT(IWMDMMetaData, QueryByIndex, 5),
      SLOT(IWMDMMetaData, GetItemCount, 6),
      SLOT(IWMDMLogger, IsEnabled, 3),
      SLOT(IWMDMLogger, Enable, 4),
      SLOT(IWMDMLogger, GetLogFileName, 5),
      SLOT(IWMDMLogger, SetLogFileName, 6),
      SLOT(IWMDMLogger, LogString, 7),
      SLOT(IWMDMLogger, LogDword, 8),
      SLOT(IWMDMLogger, Reset, 9),
      SLOT(IWMDMLogger, GetSizeParams, 10),
      SLOT(IWMDMLogger, SetSizeParams, 11),
  };
  for (const SlotCase& c : cases) EXPECT_EQ(c.actual, c.expected) << c.method;
}

// The slot test rests on the member-pointer representation; check it against a real call
// through the vtable as WMDM makes it (a plain array of function pointers, this first).
class CountingProgress : public IWMDMProgress {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Begin(DWORD ticks) override { return begun = ticks, S_OK; }
  HRESULT STDMETHODCALLTYPE Progress(DWORD ticks) override { return progressed = ticks, S_OK; }
  HRESULT STDMETHODCALLTYPE End() override { return ended = true, S_FALSE; }
  DWORD begun = 0, progressed = 0;
  bool ended = false;
};

TEST(WmdmAbi, CallThroughRawVtableReachesDeclaredMethod) {
  CountingProgress progress;
  using DwordMethod = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD);
  using VoidMethod = HRESULT(STDMETHODCALLTYPE*)(void*);
  void** vtable = *reinterpret_cast<void***>(static_cast<IWMDMProgress*>(&progress));
  EXPECT_EQ(reinterpret_cast<DwordMethod>(vtable[3])(&progress, 100), S_OK);
  EXPECT_EQ(reinterpret_cast<DwordMethod>(vtable[4])(&progress, 40), S_OK);
  EXPECT_EQ(reinterpret_cast<VoidMethod>(vtable[5])(&progress), S_FALSE);
  EXPECT_EQ(progress.begun, 100u);
  EXPECT_EQ(progress.progressed, 40u);
  EXPECT_TRUE(progress.ended);
  EXPECT_EQ(SlotOf(&IWMDMProgress::Progress), 4);
}

}  // namespace
