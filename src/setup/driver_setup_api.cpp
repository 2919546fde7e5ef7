#include "setup/driver_setup_api.h"

#include "setup/system_library.h"

bool DriverSetupApi::Complete() const {
  return update_driver && copy_oem_inf && get_class_devs && enum_device_info &&
         get_device_property && set_device_property && open_device_key &&
         destroy_device_list && get_devnode_status;
}

bool LoadDriverSetupApi(DriverSetupApi* api) {
  *api = DriverSetupApi();
  HMODULE setupapi = LoadSystemLibrary("SETUPAPI.DLL");
  HMODULE newdev = LoadSystemLibrary("NEWDEV.DLL");
  BindEntry(newdev, "UpdateDriverForPlugAndPlayDevicesA", &api->update_driver);
  BindEntry(setupapi, "SetupCopyOEMInfA", &api->copy_oem_inf);
  BindEntry(setupapi, "SetupDiGetClassDevsA", &api->get_class_devs);
  BindEntry(setupapi, "SetupDiEnumDeviceInfo", &api->enum_device_info);
  BindEntry(setupapi, "SetupDiGetDeviceRegistryPropertyA", &api->get_device_property);
  BindEntry(setupapi, "SetupDiSetDeviceRegistryPropertyA", &api->set_device_property);
  BindEntry(setupapi, "SetupDiOpenDevRegKey", &api->open_device_key);
  BindEntry(setupapi, "SetupDiDestroyDeviceInfoList", &api->destroy_device_list);
  BindEntry(setupapi, "CM_Get_DevNode_Status", &api->get_devnode_status);
  return api->Complete();
}
