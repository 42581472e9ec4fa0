// Functions shared by the test programs that run under Wine.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// True only under Wine in the harness's throwaway prefix. Tests that change the
// machine (hosts file, HKLM, ProgramData, DNS) run nowhere else.
bool VbTestIsSandbox();

std::wstring TestSystemDir();
std::wstring TestHostsPath();
std::wstring TestConfigDir();
std::wstring TestConfigPath();

// The whole content of a file, or nothing when it cannot be opened.
std::optional<std::string> ReadAll(const std::wstring& path);
void WriteAll(const std::wstring& path, std::string_view bytes);
bool PathExists(const std::wstring& path);
// Removes a folder and the files directly inside it.
void RemoveFolder(const std::wstring& path);

// True when the value exists under the HKEY_LOCAL_MACHINE key.
bool MachineValueExists(const wchar_t* key, const wchar_t* name);

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
