/* The select-configuration request, built from the device's configuration descriptor by the
 * driver itself rather than by the USB driver library, so that the driver needs nothing of
 * USBD.SYS. The descriptor comes from the device: every length in it is checked against the
 * bytes read. */
#include <stddef.h>

#include "driver.h"

/* What the system gives pipes no one asked a size for: one page. */
#define DEFAULT_TRANSFER_SIZE 0x1000u

/* The next interface descriptor with alternate setting 0 at or after *at, which is moved past
 * it; NULL at the end of the descriptors or at one whose length runs past them. */
static PUSB_INTERFACE_DESCRIPTOR NextInterface(PUCHAR* at, PUCHAR end) {
  while (*at + 2 <= end) {
    PUCHAR descriptor = *at;
    const ULONG length = descriptor[0];
    if (length < 2 || length > (ULONG)(end - descriptor)) return NULL;
    *at = descriptor + length;
    if (descriptor[1] == USB_INTERFACE_DESCRIPTOR_TYPE &&
        length >= sizeof(USB_INTERFACE_DESCRIPTOR) &&
        ((PUSB_INTERFACE_DESCRIPTOR)descriptor)->bAlternateSetting == 0) {
      return (PUSB_INTERFACE_DESCRIPTOR)descriptor;
    }
  }
  return NULL;
}

static ULONG InterfaceInfoSize(ULONG pipes) {
  return (ULONG)(offsetof(USBD_INTERFACE_INFORMATION, Pipes) +
                 (pipes ? pipes : 1) * sizeof(USBD_PIPE_INFORMATION));
}

PURB MirrinBuildSelectConfiguration(PUSB_CONFIGURATION_DESCRIPTOR config, ULONG length,
                                    NTSTATUS* status) {
  *status = STATUS_DEVICE_DATA_ERROR;
  if (!config || length < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return NULL;
  if (config->wTotalLength < length) length = config->wTotalLength;
  const PUCHAR end = (PUCHAR)config + length;
  const ULONG wanted = config->bNumInterfaces;

  /* First the size: one entry for each interface, with room for each of its endpoints. */
  ULONG count = 0;
  ULONG size = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
  PUCHAR at = (PUCHAR)config;
  PUSB_INTERFACE_DESCRIPTOR interface;
  while (count < wanted && (interface = NextInterface(&at, end)) != NULL) {
    size += InterfaceInfoSize(interface->bNumEndpoints);
    ++count;
  }
  /* A request's length is 16 bits: a descriptor asking for more is not a device's. */
  if (count == 0 || size > 0xFFFFu) return NULL;
  if (size < sizeof(struct _URB_SELECT_CONFIGURATION)) {
    size = sizeof(struct _URB_SELECT_CONFIGURATION);
  }

  PURB urb = MirrinAllocate(size);
  if (!urb) {
    *status = STATUS_INSUFFICIENT_RESOURCES;
    return NULL;
  }
  RtlZeroMemory(urb, size);
  urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
  urb->UrbHeader.Length = (USHORT)size;
  urb->UrbSelectConfiguration.ConfigurationDescriptor = config;
  PUCHAR entry = (PUCHAR)&urb->UrbSelectConfiguration.Interface;
  at = (PUCHAR)config;
  for (ULONG i = 0; i < count; ++i) {
    interface = NextInterface(&at, end);
    PUSBD_INTERFACE_INFORMATION info = (PUSBD_INTERFACE_INFORMATION)entry;
    info->Length = (USHORT)InterfaceInfoSize(interface->bNumEndpoints);
    info->InterfaceNumber = interface->bInterfaceNumber;
    info->AlternateSetting = interface->bAlternateSetting;
    info->NumberOfPipes = interface->bNumEndpoints;
    for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
      info->Pipes[p].MaximumTransferSize = DEFAULT_TRANSFER_SIZE;
    }
    entry += info->Length;
  }
  *status = STATUS_SUCCESS;
  return urb;
}
