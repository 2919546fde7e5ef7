// Finds the attached players of every transport and hands each one, as a Device, to the sink
// its creator registered: USB players through their device interfaces, mass-storage players
// through the drive listing, network players through the discovery client. It keeps nothing
// between calls; the sink decides what to keep.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "devices/device.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

class DevicePathCallback;
class SetupApiBinding;
class Win32UsbApi;

// Receives each found player. The enumerator holds a reference only for the call: a sink that
// keeps the device takes its own.
class DeviceSink {
 public:
  virtual ~DeviceSink() = default;
  virtual Result OnDevice(Device* device) = 0;
};

// Where USB players are found and how a transport is made for one.
class UsbInterfaceSource {
 public:
  virtual ~UsbInterfaceSource() = default;
  // Hands each present interface path of the class to the callback; the first negative
  // callback result ends the walk and is returned.
  virtual Result EnumerateInterfaces(const GUID* interface_class,
                                     DevicePathCallback& callback) = 0;
  // A new, closed transport for the player at `path`; null when memory runs out.
  virtual UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) = 0;
  // The product id of the player at the interface path `path`, from its device descriptor;
  // the failure of opening the path when no player is there.
  virtual Result ReadProductId(const std::string& path, uint32_t* product_id) = 0;
};

// SetupAPI and the kernel driver's transport.
class Win32UsbInterfaceSource : public UsbInterfaceSource {
 public:
  // setup_api: null for the process's binding; api: null for the system's functions. Both
  // must outlive the source and the transports it makes.
  explicit Win32UsbInterfaceSource(const SetupApiBinding* setup_api = nullptr,
                                   Win32UsbApi* api = nullptr);
  Result EnumerateInterfaces(const GUID* interface_class, DevicePathCallback& callback) override;
  UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) override;
  Result ReadProductId(const std::string& path, uint32_t* product_id) override;

 private:
  const SetupApiBinding* setup_api_;
  Win32UsbApi* api_;
};

// One removable drive identified as a player.
struct MassStorageDrive {
  uint32_t product_id;
  RefPtr<Device> device;
};

// The drive listing of the SCSI back end.
class MassStorageSource {
 public:
  virtual ~MassStorageSource() = default;
  // A failure counts as no drives.
  virtual Result ListDrives(std::vector<MassStorageDrive>* drives) = 0;
};

// No drives at all.
class NoMassStorageSource : public MassStorageSource {
 public:
  Result ListDrives(std::vector<MassStorageDrive>* drives) override;
};

// Players on the network.
class NetworkDiscovery {
 public:
  virtual ~NetworkDiscovery() = default;
  // The players offering `service_type`.
  virtual Result FindPlayers(const std::string& service_type,
                             std::vector<RefPtr<Device>>* players) = 0;
};

class DeviceEnumerator {
 public:
  // Product ids that stand for more than one player.
  static constexpr uint32_t kAllMassStorage = 0xFFF0;
  static constexpr uint32_t kAllUsbAndNetwork = 0xFFF1;
  static constexpr char kNetworkServiceType[] = "urn:velto-com:protocol2";

  struct Sources {
    UsbInterfaceSource* usb = nullptr;            // null: SetupAPI and the driver
    MassStorageSource* mass_storage = nullptr;    // null: no drives
    NetworkDiscovery* network = nullptr;          // null: no network players
  };

  // Null when memory runs out. Nothing is owned; all must outlive the enumerator.
  static DeviceEnumerator* Create(DeviceSink* sink, NetworkDiscovery* network);
  static DeviceEnumerator* Create(DeviceSink* sink, const Sources& sources);
  virtual ~DeviceEnumerator() = default;
  DeviceEnumerator(const DeviceEnumerator&) = delete;
  DeviceEnumerator& operator=(const DeviceEnumerator&) = delete;

  // Always 0. kAllMassStorage: the drives only. kAllUsbAndNetwork: every USB player and the
  // network. Any other id: its USB players, its drives, the network.
  virtual Result Enumerate(uint32_t product_id);
  // Always 0: every USB player, every drive, the network.
  virtual Result EnumerateAll();
  // The USB steps: the interface classes of the table's rows (of one id, or all), in table
  // order; the first failure ends the walk and is returned.
  virtual Result EnumerateUsbByProduct(uint32_t product_id);
  virtual Result EnumerateUsbAll();

  // Gives the sink the device under a reference of our own; the sink's result.
  Result HandOver(Device* device);

 private:
  class PathCallback;

  DeviceEnumerator(DeviceSink* sink, const Sources& sources);
  Result EnumerateUsbRow(const GUID& interface_class, uint32_t product_id);
  void ScanMassStorage(uint32_t product_id);
  void DiscoverNetwork();

  DeviceSink* sink_;
  UsbInterfaceSource* usb_;
  NoMassStorageSource no_drives_;
  MassStorageSource* mass_storage_;
  NetworkDiscovery* network_;
};
