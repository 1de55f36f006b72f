#include "host/wide_names.h"

#include <windows.h>

#include "host/paths.h"

namespace plexa::host {

namespace {

std::u16string_view asUtf16(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

}  // namespace

std::wstring widen(std::string_view text, unsigned codePage) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

std::string toUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                            nullptr);
    return out;
}

std::wstring currentDirectory() {
    std::wstring directory(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
        if (length == 0) return {};
        if (length < directory.size()) {
            directory.resize(length);
            break;
        }
        directory.resize(length);
    }
    if (directory.back() != L'\\') directory += L'\\';
    return directory;
}

bool enterDirectory(const std::wstring& directory) {
    // The system keeps no prefixed current directory: the plain name is the
    // one it takes, as far as it takes any.
    return SetCurrentDirectoryW(directory.c_str()) != 0;
}

std::wstring systemName(const std::wstring& directory, std::wstring_view name) {
    const std::u16string formed = systemFileName(asUtf16(directory), asUtf16(name));
    return std::wstring(reinterpret_cast<const wchar_t*>(formed.data()), formed.size());
}

std::wstring systemName(const char* utf8Name) { return systemName(currentDirectory(), widen(utf8Name)); }

CurrentDirectory::CurrentDirectory(const std::wstring& directory) : remembered_(currentDirectory()) {
    entered_ = enterDirectory(directory);
}

CurrentDirectory::~CurrentDirectory() {
    if (!remembered_.empty()) enterDirectory(remembered_);
}

}  // namespace plexa::host
