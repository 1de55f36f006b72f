#include "plugin_library_win32.h"

#include "desktop_file.h"
#include "gl_window_win32.h"

namespace plexa::refhost {

namespace {

// GetProcAddress hands out a generic function pointer; going through void*
// keeps -Wcast-function-type quiet about the real signature.
template <typename Function>
Function resolve(HMODULE module, const char* name, std::string* missing) {
    FARPROC address = GetProcAddress(module, name);
    if (!address) {
        if (!missing->empty()) *missing += ", ";
        *missing += name;
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace

std::string fullPathOf(const std::string& name) {
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(wideOf(name).c_str(), MAX_PATH * 4, full, nullptr);
    if (length == 0 || length >= MAX_PATH * 4) return name;
    return utf8Of(std::wstring(full, length));
}

std::string defaultPluginPath() {
    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::string directory = utf8Of(std::wstring(self, length < MAX_PATH * 4 ? length : 0));
    size_t slash = directory.find_last_of("\\/");
    directory = slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
    return directory + "plexa.dll";
}

bool PluginLibrary::load(const std::string& fileName, std::string* error) {
    path = fullPathOf(fileName);
    DWORD attributes = GetFileAttributesW(wideOf(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = "no plug-in file " + path + ": keep plexa.dll in the folder of plexa-host.exe, under that name, "
                 "or name the plug-in with --plugin PATH";
        return false;
    }
    // The altered search path lets the plug-in's own dependencies be found
    // beside it rather than beside the host.
    module = LoadLibraryExW(wideOf(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        // Windows' text for a damaged file names it as "%1".
        *error = "cannot load plug-in " + path + ": " + lastErrorText(path);
        return false;
    }
    std::string missing;
    initPlugin = resolve<InitPluginFunction>(module, "InitPlugin", &missing);
    stopPlugin = resolve<KeyFunction>(module, "StopPlugin", &missing);
    timerDraw = resolve<KeyFunction>(module, "TimerDraw", &missing);
    phantomDraw = resolve<KeyFunction>(module, "PhantomDraw", &missing);
    receiveMessage = resolve<ReceiveMessageFunction>(module, "ReceiveMessage", &missing);
    if (!missing.empty()) {
        *error = "plug-in " + path + " does not export " + missing;
        unload();
        return false;
    }
    return true;
}

void PluginLibrary::unload() {
    if (module) FreeLibrary(module);
    module = nullptr;
    initPlugin = nullptr;
    stopPlugin = timerDraw = phantomDraw = nullptr;
    receiveMessage = nullptr;
}

}  // namespace plexa::refhost
