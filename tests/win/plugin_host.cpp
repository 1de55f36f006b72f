#include "plugin_host.h"

#include <GL/gl.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace plexa::wintest {

std::string exeDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.erase(dir.find_last_of("\\/") + 1);
}

std::string currentDirectory() {
    char path[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeTextFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void PluginHost::SetUp() {
    ASSERT_TRUE(window_.ok()) << window_.error();
    previousDir_ = currentDirectory();
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    workDir_ = std::string(temp) + "plexa-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount());
    ASSERT_TRUE(CreateDirectoryA(workDir_.c_str(), nullptr)) << lastErrorText("CreateDirectoryA");
    ASSERT_TRUE(SetCurrentDirectoryA(workDir_.c_str()));

    loadPlugin(exeDirectory() + "plexa.dll");
}

void PluginHost::loadPlugin(const std::string& path) {
    if (module_) FreeLibrary(module_);
    plugin_ = Exports{};
    // The name is UTF-8: a folder of any name holds the copy.
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                                        wide.data(), static_cast<int>(wide.size()))));
    module_ = LoadLibraryW(wide.c_str());
    ASSERT_NE(module_, nullptr) << lastErrorText(path.c_str());
    plugin_.InitPlugin = reinterpret_cast<decltype(plugin_.InitPlugin)>(GetProcAddress(module_, "InitPlugin"));
    plugin_.StopPlugin = reinterpret_cast<decltype(plugin_.StopPlugin)>(GetProcAddress(module_, "StopPlugin"));
    plugin_.TimerDraw = reinterpret_cast<decltype(plugin_.TimerDraw)>(GetProcAddress(module_, "TimerDraw"));
    plugin_.PhantomDraw = reinterpret_cast<decltype(plugin_.PhantomDraw)>(GetProcAddress(module_, "PhantomDraw"));
    plugin_.ReceiveMessage =
        reinterpret_cast<decltype(plugin_.ReceiveMessage)>(GetProcAddress(module_, "ReceiveMessage"));
    ASSERT_TRUE(plugin_.InitPlugin && plugin_.StopPlugin && plugin_.TimerDraw && plugin_.PhantomDraw &&
                plugin_.ReceiveMessage);
}

void PluginHost::TearDown() {
    if (module_) FreeLibrary(module_);
    SetCurrentDirectoryA(previousDir_.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
}

int32_t PluginHost::bind(HostObject& object) {
    host::HostInstanceInfo info{};
    info.hostWindow = window_.hwnd();
    info.moduleInstance = module_;
    info.key = object.key;
    info.objectData = object.data.data();
    return plugin_.InitPlugin(&info);
}

int32_t PluginHost::send(const HostObject& object, uint32_t message, uint64_t wParam, int64_t lParam) {
    host::HostMessage record{};
    record.key = object.key;
    record.message = message;
    record.wParam = wParam;
    record.lParam = lParam;
    return plugin_.ReceiveMessage(&record);
}

// Only this thread's windows: tests running side by side share one Wine desktop.
HWND PluginHost::commandWindow() const { return findThreadWindow("Plexa", "Popup Menu Not Visible"); }

void PluginHost::headOnView() {
    glViewport(0, 0, window_.clientWidth(), window_.clientHeight());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace plexa::wintest
