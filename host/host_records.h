// Records exchanged with the host program (core side of the host seam).
//
// The host fills these records and the plug-in reads them in place, so their
// byte layouts are fixed: little-endian, 64-bit pointers and handles. The
// static_asserts below pin every offset the plug-in touches; the same header
// builds natively (for tests and tools) and for Win64.
//
// [X] HostInstanceInfo: host window (8), module instance (16), key (32),
//     object data pointer (48); 80 bytes
// [X] HostObjectData: tag (256), scene file name (260, 76 bytes), colour (336)
// [X] HostMessage: key (4), message (8), wParam (16), lParam (24); 32 bytes
#pragma once

#include <cstddef>
#include <cstdint>

namespace plexa::host {

struct HostInstanceInfo {
    uint64_t unread0;
    void* hostWindow;      // HWND: owner of choosers and boxes, target of posted requests
    void* moduleInstance;  // HINSTANCE of the plug-in library itself
    uint64_t unread24;
    int32_t key;
    uint8_t unread36[12];
    uint8_t* objectData;   // the object's HostObjectData, kept by the host
    uint8_t unread56[24];
};

static_assert(sizeof(HostInstanceInfo) == 80, "HostInstanceInfo is 80 bytes");
static_assert(offsetof(HostInstanceInfo, hostWindow) == 8);
static_assert(offsetof(HostInstanceInfo, moduleInstance) == 16);
static_assert(offsetof(HostInstanceInfo, key) == 32);
static_assert(offsetof(HostInstanceInfo, objectData) == 48);

// HostObjectData is an opaque block owned by the host; only these bytes are ours.
namespace object_data {
constexpr size_t kTagOffset = 256;       // "PLX\0" once bound
constexpr size_t kTagSize = 4;
constexpr size_t kNameOffset = 260;      // zero-terminated scene file name
constexpr size_t kNameCapacity = 76;     // bytes 260..335
constexpr size_t kColorOffset = 336;     // red, green, blue bytes
constexpr size_t kMinimumSize = 339;     // what the host must keep alive
}  // namespace object_data

struct HostMessage {
    uint32_t unread0;
    int32_t key;
    uint32_t message;
    uint32_t padding;
    uint64_t wParam;
    int64_t lParam;
};

static_assert(sizeof(HostMessage) == 32, "HostMessage is 32 bytes");
static_assert(offsetof(HostMessage, key) == 4);
static_assert(offsetof(HostMessage, message) == 8);
static_assert(offsetof(HostMessage, wParam) == 16);
static_assert(offsetof(HostMessage, lParam) == 24);

// Message numbers that cross the boundary.
namespace messages {
constexpr uint32_t kCommand = 273;             // WM_COMMAND
constexpr uint32_t kLeftDoubleClick = 515;     // WM_LBUTTONDBLCLK
constexpr uint32_t kRightButtonDown = 516;     // WM_RBUTTONDOWN
constexpr uint32_t kNewObjectData = 1087;      // host: lParam is the new data block
constexpr uint32_t kExitObject = 1086;         // plug-in to host: "Exit" for wParam's key
constexpr uint64_t kColorCommand = 2041;       // WM_COMMAND wParam of the colour protocol
constexpr uint64_t kAboutCommand = 41;
constexpr uint64_t kPopupCommand = 513;
constexpr uint64_t kShiftKey = 4;              // MK_SHIFT
}  // namespace messages

}  // namespace plexa::host
