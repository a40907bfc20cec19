// The wire between the program and the driver: the device's name, its two
// control codes and the byte layout of every record they carry. The program's
// core, the stand-in exchange, the stand-in driver and the test programs all
// take these facts from here (CMake target `wire`), so that none can drift.
// Constants, the one constexpr function that builds a control code from its
// parts and compile-time checks of the layout; nothing that needs a library,
// since this header is also compiled into a kernel-mode driver. The resource
// compiler does not read it: it reads dialog/resource.h, which takes the
// control identifiers from service/command_ids.h.
#pragma once

#include <stdint.h>

// A number is single-byte text of at most 25 characters plus its terminator.
constexpr unsigned NUMBER_MAX_LENGTH = 25;
constexpr unsigned NUMBER_FIELD_SIZE = 26;

// The device. The name is written once, as a macro, so that the user-mode
// path and the kernel's wide names ("\\Device\\" CFS_DEVICE_NAME) are all
// built from it by literal concatenation.
#define CFS_DEVICE_NAME "CAPI201"
constexpr char DEVICE_NAME[] = CFS_DEVICE_NAME;
constexpr char DEVICE_PATH[] = "\\\\.\\" CFS_DEVICE_NAME; // \\.\CAPI201
constexpr unsigned DEVICE_PATH_SIZE = 64; // the program builds the path in a buffer this size
static_assert(sizeof DEVICE_PATH <= DEVICE_PATH_SIZE, "device path fits its buffer");

// A device-control code from its parts, laid out as the system's CTL_CODE
// macro lays them out: device type in bits 16-31, required access in bits
// 14-15, function in bits 2-13, transfer method in bits 0-1.
constexpr uint32_t wireControlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                                   uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr uint32_t WIRE_METHOD_BUFFERED = 0;
constexpr uint32_t WIRE_ANY_ACCESS = 0;

// The program's two requests: device type 0x8001, buffered, any access.
constexpr uint32_t CF_DEVICE_TYPE = 0x8001;
constexpr uint32_t IOCTL_CF_SET =
    wireControlCode(CF_DEVICE_TYPE, 0x845, WIRE_METHOD_BUFFERED, WIRE_ANY_ACCESS);
constexpr uint32_t IOCTL_CF_INTERROGATE =
    wireControlCode(CF_DEVICE_TYPE, 0x846, WIRE_METHOD_BUFFERED, WIRE_ANY_ACCESS);
// The values every driver of this device answers to.
static_assert(IOCTL_CF_SET == 0x80012114, "IOCTL_CF_SET");
static_assert(IOCTL_CF_INTERROGATE == 0x80012118, "IOCTL_CF_INTERROGATE");

// ForwardingControl: procedure code in bits 0-1, direction in bit 7.
constexpr uint8_t FORWARDING_PROCEDURE_MASK = 0x03;
constexpr uint8_t FORWARDING_DIRECTION_DEACTIVATE = 0x80;
constexpr uint8_t PROCEDURE_IMMEDIATELY = 0;
constexpr uint8_t PROCEDURE_BUSY = 1;
constexpr uint8_t PROCEDURE_NO_REPLY = 2;

// Basic service codes of a forwarding entry.
constexpr uint8_t BASIC_SERVICE_ALL = 0;
constexpr uint8_t BASIC_SERVICE_SPEECH = 1;
constexpr uint8_t BASIC_SERVICE_DATA = 2;
constexpr uint8_t BASIC_SERVICE_AUDIO_3_1KHZ = 3;
constexpr uint8_t BASIC_SERVICE_TELEPHONY_3_1KHZ = 32;
constexpr uint8_t BASIC_SERVICE_TELEPHONY_7KHZ = 38;

// ForwardingRequest (IOCTL_CF_SET): 53 bytes in and out, same buffer.
constexpr unsigned FORWARDING_REQUEST_SIZE = 53;
constexpr unsigned REQUEST_CONTROL_OFFSET = 0;
constexpr unsigned REQUEST_SERVED_USER_NUMBER_OFFSET = 1;
constexpr unsigned REQUEST_FORWARDED_TO_NUMBER_OFFSET = 27;

// ResultCode: 16 bits, little-endian, in bytes 0-1 of the answered request.
constexpr unsigned RESULT_CODE_OFFSET = 0;
constexpr unsigned RESULT_CODE_SIZE = 2;
constexpr uint16_t RESULT_CODE_SUCCESS = 0x0000;
constexpr uint16_t RESULT_CODE_TIME_OUT = 0x3303;

// InterrogationRecord (IOCTL_CF_INTERROGATE): 60 bytes in and out.
// In: the served user number from offset 0. Out (more than one byte
// returned): one ForwardingEntry.
constexpr unsigned INTERROGATION_RECORD_SIZE = 60;
constexpr unsigned INTERROGATION_SERVED_USER_NUMBER_OFFSET = 0;
constexpr unsigned ENTRY_PROCEDURE_OFFSET = 0;
constexpr unsigned ENTRY_BASIC_SERVICE_OFFSET = 1;
constexpr unsigned ENTRY_SERVED_USER_NUMBER_OFFSET = 2;
constexpr unsigned ENTRY_FORWARDED_TO_NUMBER_OFFSET = 28;
constexpr unsigned FORWARDING_ENTRY_SIZE = 54; // bytes 54-59 carry nothing

// Interrogation answers told apart by the byte count of a successful call.
constexpr uint32_t INTERROGATION_NOTHING_YET_BYTES = 0;
constexpr uint32_t INTERROGATION_TIMED_OUT_BYTES = 1;

static_assert(REQUEST_FORWARDED_TO_NUMBER_OFFSET + NUMBER_FIELD_SIZE == FORWARDING_REQUEST_SIZE,
              "request layout");
static_assert(ENTRY_FORWARDED_TO_NUMBER_OFFSET + NUMBER_FIELD_SIZE == FORWARDING_ENTRY_SIZE,
              "entry layout");
static_assert(FORWARDING_ENTRY_SIZE <= INTERROGATION_RECORD_SIZE, "entry fits the record");
