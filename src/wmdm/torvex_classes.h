// The COM classes of Torvex.dll and their registration data. Only the service provider is
// created through COM (by WMDM, from its CLSID); the provider makes the other objects itself,
// but all six are registered, with the type library, as the DLL has always done.
#pragma once

#include <objbase.h>

inline constexpr CLSID CLSID_MDTorvexServiceProvider = {
    0x9DA6B0FC, 0x011D, 0x403F, {0x8C, 0xBB, 0x0E, 0x43, 0x8B, 0xF6, 0xBC, 0xEA}};
inline constexpr CLSID CLSID_MDSPEnumDevice = {
    0xBB0B2D96, 0xACBB, 0x49F4, {0xA8, 0xC6, 0x43, 0x8C, 0x22, 0xD6, 0x4F, 0xEA}};
inline constexpr CLSID CLSID_MDSPDevice = {
    0xDB437D01, 0x9012, 0x4468, {0xAE, 0xD0, 0x72, 0x9D, 0x22, 0x0C, 0x0D, 0x09}};
inline constexpr CLSID CLSID_MDSPEnumStorage = {
    0x88DAE92D, 0xCC1C, 0x4602, {0xBC, 0x87, 0x4E, 0xCB, 0xAA, 0xC6, 0xC5, 0x87}};
inline constexpr CLSID CLSID_MDSPStorage = {
    0x3CB7662E, 0x59D5, 0x40BD, {0x85, 0x0D, 0x3C, 0x1A, 0x30, 0x09, 0xC7, 0x19}};
inline constexpr CLSID CLSID_MDSPStorageGlobals = {
    0xEE43F319, 0x21B8, 0x491A, {0xB4, 0xF2, 0x1C, 0x8C, 0xA7, 0xBD, 0xA4, 0x09}};

// The type library embedded in the DLL (resource TYPELIB 1), built from torvex.idl.
inline constexpr GUID LIBID_Torvex = {
    0x60995317, 0x6183, 0x43F8, {0xBD, 0x6C, 0x97, 0x47, 0xA1, 0x47, 0x00, 0xDB}};

struct TorvexClassInfo {
  const CLSID* clsid;
  const char* prog_id;  // version-independent; the versioned one adds ".1"
  const char* description;
  const char* threading_model;
  bool plugin_entry;  // also marks WMDM's plug-in key "PnPAware"
};

inline constexpr TorvexClassInfo kTorvexClasses[] = {
    {&CLSID_MDTorvexServiceProvider, "MDTorvexServiceProvider.MDTorvexServiceProvider",
     "MDTorvexServiceProvider Class", "Both", true},
    {&CLSID_MDSPEnumDevice, "Torvex.MDSPEnumDevice", "MDSPEnumDevice Class", "Apartment", true},
    {&CLSID_MDSPDevice, "Torvex.MDSPDevice", "MDSPDevice Class", "Apartment", false},
    {&CLSID_MDSPEnumStorage, "Torvex.MDSPEnumStorage", "MDSPEnumStorage Class", "Apartment",
     false},
    {&CLSID_MDSPStorage, "Torvex.MDSPStorage", "MDSPStorage Class", "Apartment", false},
    {&CLSID_MDSPStorageGlobals, "Torvex.MDSPStorageGlobals", "MDSPStorageGlobals Class",
     "Apartment", false},
};

// WMDM finds service providers under this key of HKEY_LOCAL_MACHINE.
inline constexpr char kWmdmPluginKey[] =
    "Software\\Microsoft\\Windows Media Device Manager\\Plugins\\SP\\Torvex";
