// A host as the Windows tests play it: a window with a current OpenGL context,
// the real plexa.dll loaded with LoadLibrary, objects with their data blocks,
// and a private working directory that stands for the host's own.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "gl_window.h"
#include "host/host_records.h"

namespace plexa::wintest {

struct Exports {
    int32_t (*InitPlugin)(const host::HostInstanceInfo*) = nullptr;
    void (*StopPlugin)(int32_t) = nullptr;
    void (*TimerDraw)(int32_t) = nullptr;
    void (*PhantomDraw)(int32_t) = nullptr;
    int32_t (*ReceiveMessage)(const host::HostMessage*) = nullptr;
};

// One object of the host's desktop: its key and the data block the host keeps.
struct HostObject {
    explicit HostObject(int32_t objectKey) : key(objectKey) {}
    int32_t key;
    std::array<uint8_t, 512> data{};

    void tag() { std::memcpy(data.data() + host::object_data::kTagOffset, "PLX", 4); }
    std::string tagText() const { return reinterpret_cast<const char*>(data.data() + host::object_data::kTagOffset); }
    std::string sceneName() const { return reinterpret_cast<const char*>(data.data() + host::object_data::kNameOffset); }
    void setColor(uint8_t r, uint8_t g, uint8_t b) {
        data[host::object_data::kColorOffset] = r;
        data[host::object_data::kColorOffset + 1] = g;
        data[host::object_data::kColorOffset + 2] = b;
    }
};

std::string exeDirectory();
std::string currentDirectory();
std::string readTextFile(const std::string& path);
void writeTextFile(const std::string& path, const std::string& contents);
bool fileExists(const std::string& path);

class PluginHost : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the plug-in from `path` (UTF-8) instead, the one loaded before
    // let go: a copy elsewhere has that directory as its own.
    void loadPlugin(const std::string& path);
    int32_t bind(HostObject& object);
    int32_t send(const HostObject& object, uint32_t message, uint64_t wParam, int64_t lParam);
    HWND commandWindow() const;
    // The host's frame as most tests want it: the viewport over the window,
    // -1..1 seen head-on orthographically, identity model-view.
    void headOnView();

    GlWindow window_;
    HMODULE module_ = nullptr;
    Exports plugin_;
    std::string workDir_;      // the host's directory: every test starts in it
    std::string previousDir_;
};

}  // namespace plexa::wintest
