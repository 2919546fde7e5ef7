/* The driver's contract with user mode: the I/O control codes, the vendor request record, the
 * pipe file names and the device interface the driver registers for every player. Plain C so
 * that both the driver and its user-mode client can include it. */
#pragma once

/* All METHOD_BUFFERED on FILE_DEVICE_UNKNOWN. */
#define MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR 0x220000u
#define MIRRIN_IOCTL_CHECK_PORT 0x220004u
#define MIRRIN_IOCTL_RESET_PIPE 0x220008u
/* The record carries a 32-bit address of the data buffer. */
#define MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS 0x220010u
#define MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR 0x220018u
/* The data stage travels in the request's own buffers; 5000 ms time-out. */
#define MIRRIN_IOCTL_VENDOR_REQUEST 0x22001Cu
#define MIRRIN_IOCTL_GET_INTERFACE_INFO 0x220020u

/* The vendor request record, 12 bytes, little-endian. */
#define MIRRIN_VENDOR_RECORD_SIZE 12u
#define MIRRIN_VENDOR_RECORD_REQUEST_TYPE 0u /* bit 7 set: device to host */
#define MIRRIN_VENDOR_RECORD_REQUEST 1u
#define MIRRIN_VENDOR_RECORD_VALUE 2u
#define MIRRIN_VENDOR_RECORD_INDEX 4u
#define MIRRIN_VENDOR_RECORD_LENGTH 6u  /* data stage length, address form only */
#define MIRRIN_VENDOR_RECORD_ADDRESS 8u /* data buffer address, address form only */
#define MIRRIN_VENDOR_DEVICE_TO_HOST 0x80u
/* The setup packet carries the data stage's length in 16 bits: no request moves more. */
#define MIRRIN_VENDOR_MAX_DATA 0xFFFFu

#define MIRRIN_VENDOR_REQUEST_TIMEOUT_MS 5000u

/* Appended to a device interface path: the interface's first and second pipe. */
#define MIRRIN_PIPE_READ_NAME "\\PIPE00"
#define MIRRIN_PIPE_WRITE_NAME "\\PIPE01"
#define MIRRIN_MAX_NAMED_PIPES 6u

/* {F33FDC04-D1AC-4E8E-9A30-19BBD4B108AE}: every player's device also registers this one. */
#define MIRRIN_INTERFACE_GUID_INIT \
  { 0xF33FDC04, 0xD1AC, 0x4E8E, { 0x9A, 0x30, 0x19, 0xBB, 0xD4, 0xB1, 0x08, 0xAE } }
