#include "devices/usb/pnp_device_path.h"

std::string InterfacePathOf(const std::string& path) {
  const size_t dollar = path.find_last_of('$');
  if (dollar == std::string::npos || dollar + 1 == path.size()) return path;
  if (path.find_first_not_of("0123456789", dollar + 1) != std::string::npos) return path;
  // The number belongs to the last path component only.
  if (path.find('\\', dollar) != std::string::npos) return path;
  return path.substr(0, dollar);
}
