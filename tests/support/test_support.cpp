#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/config_folder.h"

bool VbTestIsSandbox() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    bool underWine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    const char* flag = std::getenv("VB_TEST_SANDBOX");
    return underWine && flag != nullptr && std::string_view(flag) == "1";
}

// An open file cannot be replaced (under Wine, whatever its sharing): a test reads
// what a pass replaces only once the pass has ended.
std::optional<std::string> ReadAll(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, std::string_view bytes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes)) std::abort();
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveFolder(const std::wstring& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

HANDLE HoldFile(const std::wstring& path, DWORD access, DWORD share) {
    return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Readable by its owners only, as the agent makes it.
void PlantConfig(std::string_view bytes) {
    CreateDirectoryW(kConfigDir.c_str(), nullptr);
    DeleteFileW(kConfigPath.c_str());
    VbUniqueLocal owners = BuildConfigFolderDescriptor();
    SECURITY_ATTRIBUTES security = {sizeof security, owners.Get(), FALSE};
    VbUniqueFile file(
        CreateFileW(kConfigPath.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW, 0, nullptr));
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        std::abort();
}

std::string Hosts() {
    return ReadAll(kHostsPath).value_or("<missing>");
}

void ResetMachine(std::vector<NetshSimAdapter> adapters) {
    RemoveFolder(kConfigDir);
    WriteAll(kHostsPath, kUserHosts);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    WriteNetshSimState({false, std::move(adapters)});
    ClearNetshSimLog();
}

std::optional<RegValue> MachineValue(const wchar_t* key, const wchar_t* name) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    BYTE data[256];
    DWORD size = sizeof data;
    DWORD type = 0;
    LSTATUS status = RegQueryValueExW(handle, name, nullptr, &type, data, &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return RegValue{type, std::string(reinterpret_cast<char*>(data), size)};
}

bool PoliciesLocked() {
    return MachineValue(L"SOFTWARE\\Policies\\Google\\Chrome", L"DnsOverHttpsMode") &&
           MachineValue(L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS", L"Locked") &&
           MachineValue(L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient", L"DoHPolicy");
}

// No lasting key can be made below a volatile one. The keys above it are made
// lasting first, or they would be made volatile too.
void MakeBraveUnwritable() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\BraveSoftware");
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\BraveSoftware", 0, nullptr,
                    REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
}

// A UTF-16 text has no more units than its UTF-8 bytes, and at most three bytes per unit.
std::wstring Widen(std::string_view utf8) {
    std::wstring out(utf8.size(), L'\0');
    int size = static_cast<int>(out.size());
    out.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), size));
    return out;
}

std::string Narrow(std::wstring_view utf16) {
    std::string out(utf16.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                   out.data(), static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

std::string HostsLines(const std::string& name) {
    return "127.0.0.1 " + name + "\r\n127.0.0.1 www." + name + "\r\n::1 " + name + "\r\n::1 www." +
           name + "\r\n";
}

std::string ConfigWithSecret(const std::string& rest) {
    return std::string(kSalt) + "\n" + kSecretHash + "\n" + rest;
}

TestProcess::TestProcess(const std::wstring& program, const std::wstring& arguments, HANDLE token) {
    std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" ") + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (token ? CreateProcessAsUserW(token, program.c_str(), line.data(), nullptr, nullptr, FALSE,
                                     0, nullptr, nullptr, &startup, &child)
              : CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child)) {
        process_ = child.hProcess;
        CloseHandle(child.hThread);
        id_ = child.dwProcessId;
    }
}

TestProcess::~TestProcess() {
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    if (process_ != nullptr) CloseHandle(process_);
}

bool TestProcess::Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

long TestProcess::ExitCode(DWORD timeoutMs) const {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<long>(code);
}
