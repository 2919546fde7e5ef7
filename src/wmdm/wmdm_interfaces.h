// The Windows Media Device Manager interfaces that the service provider implements or calls,
// declared by hand (mingw-w64 has none). Slot order, calling convention and parameter types
// must match WMDM's binary interface exactly: methods are declared in vtable order, and no
// interface may gain a virtual destructor or any other virtual.
//
// Interface ids are inline constexpr IIDs (one definition for the whole program), compared in
// QueryInterface with ==; there is no __uuidof for these types.
#pragma once

#include <objbase.h>
#include <ocidl.h>  // ISpecifyPropertyPages
#include <windows.h>

#include "wmdm/wmdm_tags.h"
#include "wmdm/wmdm_types.h"

inline constexpr IID IID_IMDServiceProvider = {
    0x1DCB3A10, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDServiceProvider2 = {
    0xB2FA24B7, 0xCDA3, 0x4694, {0x98, 0x62, 0x41, 0x3A, 0xE1, 0xA3, 0x48, 0x19}};
inline constexpr IID IID_IMDSPEnumDevice = {
    0x1DCB3A11, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPDevice = {
    0x1DCB3A12, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPDevice2 = {
    0x420D16AD, 0xC97D, 0x4E00, {0x82, 0xAA, 0x00, 0xE9, 0xF4, 0x33, 0x5D, 0xDD}};
inline constexpr IID IID_IMDSPDeviceControl = {
    0x1DCB3A14, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPEnumStorage = {
    0x1DCB3A15, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPStorage = {
    0x1DCB3A16, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPStorage2 = {
    0x0A5E07A5, 0x6454, 0x4451, {0x9C, 0x36, 0x1C, 0x6A, 0xE7, 0xE2, 0xB1, 0xD6}};
inline constexpr IID IID_IMDSPStorage3 = {
    0x6C669867, 0x97ED, 0x4A67, {0x97, 0x06, 0x1C, 0x55, 0x29, 0xD2, 0xA4, 0x14}};
inline constexpr IID IID_IMDSPStorageGlobals = {
    0x1DCB3A17, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPObject = {
    0x1DCB3A18, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IMDSPObjectInfo = {
    0x1DCB3A19, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IWMDMProgress = {
    0x1DCB3A0C, 0x33ED, 0x11D3, {0x84, 0x70, 0x00, 0xC0, 0x4F, 0x79, 0xDB, 0xC0}};
inline constexpr IID IID_IWMDMProgress2 = {
    0x3A43F550, 0xB383, 0x4E92, {0xB0, 0x4A, 0xE6, 0xBB, 0xC6, 0x60, 0xFE, 0xFC}};
inline constexpr IID IID_IWMDMMetaData = {
    0xEC3B0663, 0x0951, 0x460A, {0x9A, 0x80, 0x0D, 0xCE, 0xED, 0x3C, 0x04, 0x3C}};
inline constexpr IID IID_IWMDMLogger = {
    0x110A3200, 0x5A79, 0x11D3, {0x8D, 0x78, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// WMDM's logger object, created in-process by the provider.
inline constexpr CLSID CLSID_WMDMLogger = {
    0x110A3202, 0x5A79, 0x11D3, {0x8D, 0x78, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

struct IMDSPEnumDevice;
struct IMDSPDevice;
struct IMDSPEnumStorage;
struct IMDSPStorage;
struct IMDSPStorageGlobals;
struct IWMDMProgress;
struct IWMDMMetaData;

struct IMDServiceProvider : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDeviceCount(DWORD* pdwCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumDevices(IMDSPEnumDevice** ppEnumDevice) = 0;
};

struct IMDServiceProvider2 : public IMDServiceProvider {
  // The caller frees the array with CoTaskMemFree.
  virtual HRESULT STDMETHODCALLTYPE CreateDevice(LPCWSTR pwszDevicePath, DWORD* pdwCount,
                                                 IMDSPDevice*** pppDeviceArray) = 0;
};

struct IMDSPEnumDevice : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMDSPDevice** ppDevice,
                                         ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IMDSPEnumDevice** ppEnumDevice) = 0;
};

struct IMDSPDevice : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetName(LPWSTR pwszName, UINT nMaxChars) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetManufacturer(LPWSTR pwszName, UINT nMaxChars) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVersion(DWORD* pdwVersion) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetType(DWORD* pdwType) = 0;
  // abMac points at a WMDM_MAC_LENGTH-byte buffer.
  virtual HRESULT STDMETHODCALLTYPE GetSerialNumber(WMDMID* pSerialNumber, BYTE* abMac) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPowerSource(DWORD* pdwPowerSource,
                                                   DWORD* pdwPercentRemaining) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatus(DWORD* pdwStatus) = 0;
  // An icon handle carried in 32 bits.
  virtual HRESULT STDMETHODCALLTYPE GetDeviceIcon(ULONG* hIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumStorage(IMDSPEnumStorage** ppEnumStorage) = 0;
  // Both arrays come from CoTaskMemAlloc; the caller frees them.
  virtual HRESULT STDMETHODCALLTYPE GetFormatSupport(WMDM_WAVEFORMATEX** pFormatEx,
                                                     UINT* pnFormatCount,
                                                     LPWSTR** pppwszMimeType,
                                                     UINT* pnMimeTypeCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendOpaqueCommand(OPAQUECOMMAND* pCommand) = 0;
};

struct IMDSPDevice2 : public IMDSPDevice {
  virtual HRESULT STDMETHODCALLTYPE GetStorage(LPCWSTR pszStorageName,
                                               IMDSPStorage** ppStorage) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFormatSupport2(
      DWORD dwFlags, WMDM_WAVEFORMATEX** ppAudioFormatEx, UINT* pnAudioFormatCount,
      WMDM_VIDEOINFOHEADER** ppVideoFormatEx, UINT* pnVideoFormatCount,
      WMFILECAPABILITIES** ppFileType, UINT* pnFileTypeCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSpecifyPropertyPages(
      ISpecifyPropertyPages** ppSpecifyPropPages, IUnknown*** pppUnknowns, ULONG* pcUnks) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCanonicalName(LPWSTR pwszPnPName, UINT nMaxChars) = 0;
};

struct IMDSPDeviceControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDCStatus(DWORD* pdwStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pdwCapabilitiesMask) = 0;
  virtual HRESULT STDMETHODCALLTYPE Play() = 0;
  virtual HRESULT STDMETHODCALLTYPE Record(WMDM_WAVEFORMATEX* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual HRESULT STDMETHODCALLTYPE Resume() = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Seek(UINT fuMode, int nOffset) = 0;  // MDSP_SEEK_*
};

struct IMDSPEnumStorage : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMDSPStorage** ppStorage,
                                         ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IMDSPEnumStorage** ppEnumStorage) = 0;
};

struct IMDSPStorage : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetAttributes(DWORD dwAttributes,
                                                  WMDM_WAVEFORMATEX* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStorageGlobals(
      IMDSPStorageGlobals** ppStorageGlobals) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributes(DWORD* pdwAttributes,
                                                  WMDM_WAVEFORMATEX* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetName(LPWSTR pwszName, UINT nMaxChars) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDate(WMDMDATETIME* pDateTimeUTC) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSize(DWORD* pdwSizeLow, DWORD* pdwSizeHigh) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRights(WMDMRIGHTS** ppRights, UINT* pnRightsCount,
                                              BYTE* abMac) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateStorage(DWORD dwAttributes,
                                                  WMDM_WAVEFORMATEX* pFormat, LPWSTR pwszName,
                                                  IMDSPStorage** ppNewStorage) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumStorage(IMDSPEnumStorage** ppEnumStorage) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendOpaqueCommand(OPAQUECOMMAND* pCommand) = 0;
};

struct IMDSPStorage2 : public IMDSPStorage {
  virtual HRESULT STDMETHODCALLTYPE GetStorage(LPCWSTR pszStorageName,
                                               IMDSPStorage** ppStorage) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateStorage2(DWORD dwAttributes, DWORD dwAttributesEx,
                                                   WMDM_WAVEFORMATEX* pAudioFormat,
                                                   WMDM_VIDEOINFOHEADER* pVideoFormat,
                                                   LPWSTR pwszName, ULONGLONG qwFileSize,
                                                   IMDSPStorage** ppNewStorage) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAttributes2(DWORD dwAttributes, DWORD dwAttributesEx,
                                                   WMDM_WAVEFORMATEX* pAudioFormat,
                                                   WMDM_VIDEOINFOHEADER* pVideoFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributes2(DWORD* pdwAttributes, DWORD* pdwAttributesEx,
                                                   WMDM_WAVEFORMATEX* pAudioFormat,
                                                   WMDM_VIDEOINFOHEADER* pVideoFormat) = 0;
};

struct IMDSPStorage3 : public IMDSPStorage2 {
  // The metadata object belongs to WMDM; the provider fills or reads it.
  virtual HRESULT STDMETHODCALLTYPE GetMetadata(IWMDMMetaData* pMetadata) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMetadata(IWMDMMetaData* pMetadata) = 0;
};

struct IMDSPStorageGlobals : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pdwCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSerialNumber(WMDMID* pSerialNum, BYTE* abMac) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTotalSize(DWORD* pdwTotalSizeLow,
                                                 DWORD* pdwTotalSizeHigh) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTotalFree(DWORD* pdwFreeLow, DWORD* pdwFreeHigh) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTotalBad(DWORD* pdwBadLow, DWORD* pdwBadHigh) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatus(DWORD* pdwStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE Initialize(UINT fuMode, IWMDMProgress* pProgress) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDevice(IMDSPDevice** ppDevice) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRootStorage(IMDSPStorage** ppRoot) = 0;
};

struct IMDSPObject : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Open(UINT fuMode) = 0;  // MDSP_READ / MDSP_WRITE
  virtual HRESULT STDMETHODCALLTYPE Read(BYTE* pData, DWORD* pdwSize, BYTE* abMac) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(BYTE* pData, DWORD* pdwSize, BYTE* abMac) = 0;
  virtual HRESULT STDMETHODCALLTYPE Delete(UINT fuMode, IWMDMProgress* pProgress) = 0;
  virtual HRESULT STDMETHODCALLTYPE Seek(UINT fuFlags, DWORD dwOffset) = 0;  // MDSP_SEEK_*
  virtual HRESULT STDMETHODCALLTYPE Rename(LPWSTR pwszNewName, IWMDMProgress* pProgress) = 0;
  virtual HRESULT STDMETHODCALLTYPE Move(UINT fuMode, IWMDMProgress* pProgress,
                                         IMDSPStorage* pTarget) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct IMDSPObjectInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPlayLength(DWORD* pdwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPlayLength(DWORD dwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPlayOffset(DWORD* pdwOffset) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPlayOffset(DWORD dwOffset) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTotalLength(DWORD* pdwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLastPlayPosition(DWORD* pdwLastPos) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLongestPlayPosition(DWORD* pdwLongestPos) = 0;
};

// Implemented by the application; the provider reports long operations through it.
struct IWMDMProgress : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Begin(DWORD dwEstimatedTicks) = 0;
  virtual HRESULT STDMETHODCALLTYPE Progress(DWORD dwTranspiredTicks) = 0;
  virtual HRESULT STDMETHODCALLTYPE End() = 0;
};

// Progress that can carry the operation's result: callers that implement it receive End2 in
// place of End.
struct IWMDMProgress2 : public IWMDMProgress {
  virtual HRESULT STDMETHODCALLTYPE End2(HRESULT hrCompletionCode) = 0;
};

// Implemented by WMDM and passed into the provider.
struct IWMDMMetaData : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddItem(WMDM_TAG_DATATYPE Type, LPCWSTR pwszTagName,
                                            BYTE* pValue, UINT iLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryByName(LPCWSTR pwszTagName, WMDM_TAG_DATATYPE* pType,
                                                BYTE** pValue, UINT* pcbLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryByIndex(UINT iIndex, WCHAR** ppwszName,
                                                 WMDM_TAG_DATATYPE* pType, BYTE** ppValue,
                                                 UINT* pcbLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetItemCount(UINT* iCount) = 0;
};

// WMDM's trace log. Every string is ANSI.
struct IWMDMLogger : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsEnabled(BOOL* pfEnabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE Enable(BOOL fEnable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLogFileName(LPSTR pszFilename, UINT nMaxChars) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLogFileName(LPSTR pszFilename) = 0;
  virtual HRESULT STDMETHODCALLTYPE LogString(DWORD dwFlags, LPSTR pszSrcName,
                                              LPSTR pszLog) = 0;
  // pszLogFormat holds one printf placeholder that receives dwLog.
  virtual HRESULT STDMETHODCALLTYPE LogDword(DWORD dwFlags, LPSTR pszSrcName,
                                             LPSTR pszLogFormat, DWORD dwLog) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSizeParams(DWORD* pdwMaxSize,
                                                  DWORD* pdwShrinkToSize) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSizeParams(DWORD dwMaxSize, DWORD dwShrinkToSize) = 0;
};
