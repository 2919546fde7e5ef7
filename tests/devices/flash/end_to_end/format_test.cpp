// Formatting one storage through its storage globals on the provider's worker thread, for an
// apartment-threaded and a free-threaded application: the call returns at once, the worker
// reports Begin, Progress and End, and only that storage of the player is emptied.
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devices/flash/end_to_end_audio.h"
#include "devices/flash/end_to_end/end_to_end_fixture.h"
#include "testlib/com_apartment.h"
#include "testlib/recording_progress.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/wmdm_types.h"

namespace {

// The threads of this process.
std::set<DWORD> OwnThreads() {
  std::set<DWORD> threads;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) threads.insert(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return threads;
}

// Waits until every thread started since `before` has ended.
void JoinThreadsSince(const std::set<DWORD>& before) {
  for (DWORD id : OwnThreads()) {
    if (before.count(id)) continue;
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (!thread) continue;  // already gone
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

// A progress callback that marshals itself by a class nobody registered: the provider can
// marshal it, but its worker cannot unmarshal it.
class UnreachableProgress final : public IWMDMProgress, public IMarshal {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMDMProgress) {
      *object = static_cast<IWMDMProgress*>(this);
    } else if (riid == IID_IMarshal) {
      *object = static_cast<IMarshal*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }
  HRESULT STDMETHODCALLTYPE Begin(DWORD) override { return Called(); }
  HRESULT STDMETHODCALLTYPE Progress(DWORD) override { return Called(); }
  HRESULT STDMETHODCALLTYPE End() override { return Called(); }

  HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD,
                                              CLSID* clsid) override {
    *clsid = {0x3B9A1D04, 0x6C2E, 0x4F0A, {0x9E, 0x51, 0x0D, 0x7C, 0x22, 0xA8, 0x41, 0x6F}};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD,
                                              DWORD* size) override {
    *size = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MarshalInterface(IStream*, REFIID, void*, DWORD, void*,
                                             DWORD) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream*, REFIID, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD) override { return S_OK; }

  int calls = 0;

 private:
  HRESULT Called() {
    ++calls;
    return S_OK;
  }
  LONG refs_ = 1;
};

class FormatTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    devices_ = List();
    internal_ = DeviceNamed(devices_, L"Pavo Sim Internal");
    ASSERT_NE(nullptr, internal_);
    ASSERT_EQ(S_OK, Upload(DeviceNamed(devices_, L"Pavo Sim Card"), L"Road_Song.mp3", Song()));
    // What the player will say of the storage once it is formatted.
    SimStorage& storage = family_d_->Storage(0);
    storage.used_blocks = 0;
    storage.free_blocks = storage.total_blocks;
    family_d_->format_progress = {"PR30", "PR70", "FMTD"};
  }

  static std::string Song() {
    return std::string(kEndToEndAudio[0].bytes, kEndToEndAudio[0].size);
  }

  // Storage 0 is empty on the player and in WMDM's view; storage 1 is untouched.
  void ExpectOnlyInternalFormatted() {
    EXPECT_EQ(0u, family_d_->formatted_storage);
    EXPECT_TRUE(family_d_->Storage(0).files.empty());
    EXPECT_EQ(1u, family_d_->Storage(1).files.size());
    EXPECT_TRUE(TrackNames(internal_).empty());
    EXPECT_EQ(1u, TrackNames(DeviceNamed(devices_, L"Pavo Sim Card")).size());
    // The storage information is read again and the accounting starts over from it.
    EXPECT_EQ(64u << 20, FreeBytes(internal_));
    EXPECT_FALSE(family_d_->Busy());
    EXPECT_EQ(0, family_d_->holders);
    EXPECT_EQ(0, family_d_->lock_depth);
    DWORD status = 0;
    EXPECT_EQ(S_OK, internal_->GetStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(WMDM_STATUS_READY), status);
  }

  std::vector<IMDSPDevice*> devices_;
  IMDSPDevice* internal_ = nullptr;
};

TEST_F(FormatTest, OnAWorkerThreadForApartmentAndFreeThreadedCallers) {
  for (DWORD model : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
    SCOPED_TRACE(model == COINIT_APARTMENTTHREADED ? "apartment-threaded" : "free-threaded");
    ASSERT_EQ(S_OK, Upload(internal_, L"Road_Song.mp3", Song()));
    ASSERT_FALSE(family_d_->Storage(0).files.empty());
    family_d_->formatted_storage = UINT32_MAX;
    ComRef<IMDSPStorageGlobals> globals = Globals(internal_);
    ASSERT_NE(nullptr, globals.Get());
    InApartment(model, [&] {
      RecordingProgress* progress = new RecordingProgress;
      EXPECT_EQ(S_OK, globals->Initialize(WMDM_MODE_THREAD, progress));
      if (model == COINIT_APARTMENTTHREADED) {
        WaitPumping(progress->released());
      } else {
        WaitForSingleObject(progress->released(), INFINITE);
      }
      EXPECT_EQ((std::vector<std::string>{"Begin(100)", "Progress(100)", "End"}),
                progress->calls());
      for (DWORD thread : progress->threads()) EXPECT_NE(GetCurrentThreadId(), thread);
      EXPECT_EQ(0, progress->outside_references());
      progress->Release();
    });
    ExpectOnlyInternalFormatted();
  }
}

// Registers the type library that describes IWMDMProgress, as WMDM's installation registers
// its proxies on Windows, so that COM can marshal the interface between apartments.
void RegisterProgressProxy() {
  std::string path = std::string("Z:") + TORVEX_PROGRESS_PROXY_UNIX_PATH;
  for (char& c : path) c = c == '/' ? '\\' : c;
  std::wstring wide(path.begin(), path.end());
  ITypeLib* library = nullptr;
  ASSERT_EQ(S_OK, LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &library));
  EXPECT_EQ(S_OK, RegisterTypeLib(library, &wide[0], nullptr));
  library->Release();
}

// An apartment-threaded progress object without the free-threaded marshaler: the worker
// reaches it through a proxy, so every call arrives on the caller's own thread.
TEST_F(FormatTest, AnApartmentProgressIsCalledOnItsOwnThread) {
  RegisterProgressProxy();
  ASSERT_EQ(S_OK, Upload(internal_, L"Road_Song.mp3", Song()));
  ComRef<IMDSPStorageGlobals> globals = Globals(internal_);
  ASSERT_NE(nullptr, globals.Get());
  InApartment(COINIT_APARTMENTTHREADED, [&] {
    ProgressOptions options;
    options.free_threaded = false;
    RecordingProgress* progress = new RecordingProgress(options);
    ASSERT_FALSE(progress->free_threaded());
    EXPECT_EQ(S_OK, globals->Initialize(WMDM_MODE_THREAD, progress));
    WaitPumping(progress->released());
    EXPECT_EQ((std::vector<std::string>{"Begin(100)", "Progress(100)", "End"}), progress->calls());
    for (DWORD thread : progress->threads()) EXPECT_EQ(GetCurrentThreadId(), thread);
    progress->Release();
  });
  ExpectOnlyInternalFormatted();
}

// WMDM calls from several threads: while a format runs on the provider's worker, the
// application lists and deletes on the other storage of the same player and on the storage
// being formatted. The player's lock makes them take turns: the strict player sees no request
// in the middle of another's transfer, and every call ends.
TEST_F(FormatTest, CallsFromTwoThreadsTakeTurnsOnThePlayer) {
  IMDSPDevice* card = DeviceNamed(devices_, L"Pavo Sim Card");
  ASSERT_EQ(S_OK, Upload(card, L"Second_Song.mp3", Song()));
  const std::vector<std::wstring> card_tracks = TrackNames(card);
  ASSERT_EQ(2u, card_tracks.size());
  family_d_->format_progress.assign(100, "PR50");
  family_d_->real_ms_per_message = 3;  // the format takes a while
  family_d_->format_progress.push_back("FMTD");
  ComRef<IMDSPStorageGlobals> globals = Globals(internal_);
  ASSERT_NE(nullptr, globals.Get());
  InApartment(COINIT_MULTITHREADED, [&] {
    RecordingProgress* progress = new RecordingProgress;
    ASSERT_EQ(S_OK, globals->Initialize(WMDM_MODE_THREAD, progress));
    std::thread caller([&] {
      ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
      for (int i = 0; i < 20; ++i) {
        TrackNames(internal_);
        TrackNames(card);
        FreeBytes(internal_);
      }
      EXPECT_EQ(S_OK, Delete(card, card_tracks.back()));
      CoUninitialize();
    });
    caller.join();
    WaitForSingleObject(progress->released(), INFINITE);
    EXPECT_EQ((std::vector<std::string>{"Begin(100)", "Progress(100)", "End"}), progress->calls());
    progress->Release();
  });
  EXPECT_TRUE(family_d_->refusals.empty());
  EXPECT_EQ(1u, family_d_->Storage(1).files.size());  // the song uploaded in SetUp
  ExpectOnlyInternalFormatted();
}

// The application asked for the format and was told it would happen: a progress interface
// the worker cannot reach costs the reports, not the format.
TEST_F(FormatTest, AProgressTheWorkerCannotReachStillFormats) {
  ASSERT_EQ(S_OK, Upload(internal_, L"Road_Song.mp3", Song()));
  UnreachableProgress progress;
  ComRef<IMDSPStorageGlobals> globals = Globals(internal_);
  ASSERT_NE(nullptr, globals.Get());
  const std::set<DWORD> before = OwnThreads();
  ASSERT_EQ(S_OK, globals->Initialize(WMDM_MODE_THREAD, &progress));
  JoinThreadsSince(before);
  EXPECT_EQ(0, progress.calls);
  ExpectOnlyInternalFormatted();
}

}  // namespace
