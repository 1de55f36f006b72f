// Smoke tests: the built plexa.dll loads the way a host loads it, and the
// machine gives this test program a real OpenGL context. If these fail, every
// other Windows test fails for a reason that has nothing to do with its own.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gl_window.h"

namespace plexa::wintest {
namespace {

// A file next to this program: the test must not pick up some other
// plexa.dll that happens to be on the search path.
std::string besideThisProgram(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + name;
}

std::string pluginPath() { return besideThisProgram("plexa.dll"); }

const char* const kEntryPoints[] = {"InitPlugin", "StopPlugin", "TimerDraw", "PhantomDraw", "ReceiveMessage"};

// The DLL loaded as a host loads it: imports resolved, DllMain run.
class PluginLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        SetLastError(0xdeadbeef);
        module_ = LoadLibraryA(pluginPath().c_str());
        ASSERT_NE(module_, nullptr) << lastErrorText(("LoadLibraryA " + pluginPath()).c_str())
                                    << "; if PluginImage.ImportsOnlySystemDlls fails too, a DLL it imports is missing";
    }
    void TearDown() override {
        if (module_) {
            EXPECT_TRUE(FreeLibrary(module_));
        }
    }
    HMODULE module_ = nullptr;
};

TEST_F(PluginLibrary, ResolvesEveryHostEntryPointByName) {
    for (const char* name : kEntryPoints) {
        SetLastError(0xdeadbeef);
        EXPECT_NE(GetProcAddress(module_, name), nullptr) << lastErrorText((std::string("GetProcAddress ") + name).c_str());
    }
}

// The DLL mapped without resolving its imports or running DllMain, so that its
// tables can be read even when loading it for real fails.
class PluginImage : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(pluginPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(module_, nullptr) << lastErrorText(("LoadLibraryExA " + pluginPath()).c_str());
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    template <typename T>
    const T* directory(int index) const {
        auto* base = reinterpret_cast<const BYTE*>(module_);
        auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[index];
        return entry.VirtualAddress ? reinterpret_cast<const T*>(base + entry.VirtualAddress) : nullptr;
    }
    const char* rva(DWORD offset) const { return reinterpret_cast<const char*>(module_) + offset; }

    HMODULE module_ = nullptr;
};

// Names are what the host binds to; a missing .def entry shows up here as a
// mangled or extra name rather than as a host that silently skips us.
TEST_F(PluginImage, ExportsExactlyTheHostEntryPoints) {
    auto* exports = directory<IMAGE_EXPORT_DIRECTORY>(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(exports, nullptr);
    std::vector<std::string> names;
    auto* nameRvas = reinterpret_cast<const DWORD*>(rva(exports->AddressOfNames));
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(rva(nameRvas[i]));
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected(std::begin(kEntryPoints), std::end(kEntryPoints));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_STRCASEEQ(rva(exports->Name), "plexa.dll");
}

// A host machine has no mingw runtime: libgcc, libstdc++ and winpthread must
// be linked in, so the DLL may import only Windows' own libraries.
TEST_F(PluginImage, ImportsOnlySystemDlls) {
    auto* import = directory<IMAGE_IMPORT_DESCRIPTOR>(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(import, nullptr);
    std::vector<std::string> dlls;
    for (; import->Name != 0; ++import) {
        std::string name = rva(import->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(tolower(c)); });
        dlls.push_back(name);
    }
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "opengl32.dll"), dlls.end());
    for (const std::string& dll : dlls) {
        EXPECT_EQ(dll.find("libgcc"), std::string::npos) << dll;
        EXPECT_EQ(dll.find("libstdc++"), std::string::npos) << dll;
        EXPECT_EQ(dll.find("winpthread"), std::string::npos) << dll;
    }
}

// What Explorer shows under Properties > Details, read the way it reads it.
TEST(VersionResource, NamesTheReleaseInTheDllAndTheHost) {
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(PLEXA_EXPECTED_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    for (const char* name : {"plexa.dll", "plexa-host.exe"}) {
        SCOPED_TRACE(name);
        const std::string path = besideThisProgram(name);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << lastErrorText(("GetFileVersionInfoSizeA " + path).c_str());
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(fixed->dwFileVersionMS, DWORD(major << 16 | minor));
        EXPECT_EQ(fixed->dwFileVersionLS, DWORD(patch << 16));
        EXPECT_EQ(fixed->dwProductVersionMS, DWORD(major << 16 | minor));

        auto text = [&](const char* key) -> std::string {
            char* value = nullptr;
            UINT chars = 0;
            const std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
            if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) || !value)
                return "(missing)";
            return value;
        };
        EXPECT_EQ(text("ProductName"), "Plexa");
        EXPECT_EQ(text("FileVersion"), PLEXA_EXPECTED_VERSION);
        EXPECT_EQ(text("ProductVersion"), PLEXA_EXPECTED_VERSION);
        EXPECT_EQ(text("OriginalFilename"), name);
        EXPECT_EQ(text("LegalCopyright"), PLEXA_EXPECTED_COPYRIGHT);
        EXPECT_NE(text("FileDescription").find("Plexa"), std::string::npos);
    }
}

TEST(OpenGlContext, IsRealAndDrawsIntoTheWindow) {
    GlWindow window;
    ASSERT_TRUE(window.ok()) << window.error();
    ASSERT_EQ(wglGetCurrentContext(), window.context());

    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(renderer, nullptr) << "no GL renderer: was the wineserver started without a display?";
    ASSERT_NE(version, nullptr);
    RecordProperty("gl_renderer", renderer);
    std::printf("GL_RENDERER = %s\nGL_VERSION = %s\n", renderer, version);

    glViewport(0, 0, window.clientWidth(), window.clientHeight());
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glFinish();
    unsigned char pixel[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    glReadBuffer(GL_BACK);
    glReadPixels(window.clientWidth() / 2, window.clientHeight() / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(pixel[0], 0);
    EXPECT_EQ(pixel[1], 255);
    EXPECT_EQ(pixel[2], 0);

    GLint depthBits = 0, stencilBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
    EXPECT_GE(depthBits, 24);
    EXPECT_GE(stencilBits, 8);
}

}  // namespace
}  // namespace plexa::wintest
