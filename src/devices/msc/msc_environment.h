// The system services a mass-storage device and its channels use. Every member may be null,
// which stands for the system's own; tests put simulated ones in their place. Whatever is set
// must outlive the devices and channels made with it.
#pragma once

#include "devices/msc/msc_file_source.h"

class EjectApi;
class FormatterLibrary;
class VolumeIoApi;

struct MscEnvironment {
  VolumeIoApi* volume_io = nullptr;
  EjectApi* eject = nullptr;
  FormatterLibrary* formatter = nullptr;
  MscFileSourceFactory file_sources;  // empty: FileSource
};
