// Folders and files the plug-in names itself reach the system through its
// wide-character calls, so that no name is limited to what the ANSI code
// page can spell or to the plain-name length (platform side).
#pragma once

#include <string>
#include <string_view>

namespace plexa::host {

// UTF-8 (or another code page's bytes) to UTF-16 and back.
std::wstring widen(std::string_view text, unsigned codePage = 65001 /* CP_UTF8 */);
std::string toUtf8(std::wstring_view text);

// The current directory, whatever its length, ending in a backslash; empty
// when the system gives none.
std::wstring currentDirectory();
bool enterDirectory(const std::wstring& directory);

// The name to hand a wide-character call for `name`, relative to `directory`
// or, without one, to the current directory (host/paths.h).
std::wstring systemName(const std::wstring& directory, std::wstring_view name);
std::wstring systemName(const char* utf8Name);

// Makes a directory current for its lifetime, then returns to the one before.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& directory);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    bool entered() const { return entered_; }

private:
    std::wstring remembered_;
    bool entered_ = false;
};

}  // namespace plexa::host
