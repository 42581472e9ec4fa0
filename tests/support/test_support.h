// Shared by the test programs that run under Wine.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fixtures/netsh_state.h"

// True only under Wine in the test prefix, where alone the tests that change the machine run.
bool VbTestIsSandbox();

// The test prefix's places, as Wine lays them out.
inline const std::wstring kSystemDir = L"C:\\windows\\system32";
inline const std::wstring kHostsPath = kSystemDir + L"\\drivers\\etc\\hosts";
inline const std::wstring kConfigDir = L"C:\\ProgramData\\Vellumbrook";
inline const std::wstring kConfigPath = kConfigDir + L"\\config.dat";

std::optional<std::string> ReadAll(const std::wstring& path);  // nothing: cannot be opened
void WriteAll(const std::wstring& path, std::string_view bytes);
bool PathExists(const std::wstring& path);
void RemoveFolder(const std::wstring& path);  // and everything in it; or a file
// A handle another program would hold; closed with CloseHandle.
HANDLE HoldFile(const std::wstring& path, DWORD access, DWORD share);
void PlantConfig(std::string_view bytes);  // config.dat, its folder made if need be
std::string Hosts();                       // the hosts file's bytes, or "<missing>"
inline const std::string kUserHosts = "# user's own\r\n127.0.0.1 localhost\r\n";
// No agent folder, the user's hosts file, no policies, those adapters, no netsh log.
void ResetMachine(std::vector<NetshSimAdapter> adapters);

struct RegValue {
    DWORD type;
    std::string data;
};
std::optional<RegValue> MachineValue(const wchar_t* key, const wchar_t* name);  // under HKLM
// Chrome's, Firefox's and the DNS client's DNS-over-HTTPS policies are there.
bool PoliciesLocked();
// Makes Brave's policy key impossible to create, so that the lockdown fails.
void MakeBraveUnwritable();

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

inline const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
inline const std::string kEnd = "# <<< Vellumbrook <<<\r\n";
std::string HostsLines(const std::string& name);  // one site's four lines
inline const std::string kBlocked = kUserHosts + kBegin + HostsLines("kids.example") + kEnd;

// sha256("<salt>:secret") by another SHA-256 tool; config.dat text with the password
// "secret", then rest (the switch and the sites).
inline constexpr char kSalt[] = "0123456789abcdef0123456789abcdef";
inline constexpr char kSecretHash[] =
    "8917ae349b3abd701ffcd51e40fd8aacca08f7ed11cc2688a79f72ab380e7460";
std::string ConfigWithSecret(const std::string& rest);

// Both families of an adapter on the family-filtering resolver, as netsh lists them.
inline constexpr char kFamilyV4[] = "1.1.1.3,1.0.0.3";
inline constexpr char kFamilyV6[] = "2606:4700:4700::1113,2606:4700:4700::1003";

// A program started by a test, ended by its id if the test leaves it running.
class TestProcess {
public:
    // With token, as that token's user (CreateProcessAsUserW).
    TestProcess(const std::wstring& program, const std::wstring& arguments, HANDLE token = nullptr);
    ~TestProcess();
    TestProcess(const TestProcess&) = delete;

    DWORD Id() const { return id_; }
    bool Running() const;
    // The exit code, or -1 when it still runs after timeoutMs.
    long ExitCode(DWORD timeoutMs = 30000) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};
