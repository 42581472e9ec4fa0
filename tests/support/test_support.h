// Shared by the test programs that run under Wine: the sandbox check, the
// machine's files, keys and service, and the bytes and texts several tests expect.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fixtures/netsh_state.h"

// True only under Wine in the harness's throwaway prefix. Tests that change the
// machine (hosts file, HKLM, ProgramData, DNS, services) run nowhere else.
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
// A handle on a file held the way another program would hold it; closed with CloseHandle.
HANDLE HoldFile(const std::wstring& path, DWORD access, DWORD share);
void PlantConfig(std::string_view bytes);  // config.dat, its folder made if need be
std::string Hosts();  // the hosts file's bytes, or "<missing>"
inline const std::string kUserHosts = "# user's own\r\n127.0.0.1 localhost\r\n";
// The machine a test starts from: no agent folder, the user's hosts file, no
// policies, those adapters and an empty netsh log.
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

// The agent's hosts block: its markers, and the four lines of one site.
inline const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
inline const std::string kEnd = "# <<< Vellumbrook <<<\r\n";
std::string HostsLines(const std::string& name);

// A known salt, and sha256("<salt>:secret") as worked out by another SHA-256 tool;
// config.dat text with the password "secret", then rest (the switch and the sites).
inline constexpr char kSalt[] = "0123456789abcdef0123456789abcdef";
inline constexpr char kSecretHash[] =
    "8917ae349b3abd701ffcd51e40fd8aacca08f7ed11cc2688a79f72ab380e7460";
std::string ConfigWithSecret(const std::string& rest);

// Both families of an adapter on the family-filtering resolver, as netsh lists them.
inline constexpr char kFamilyV4[] = "1.1.1.3,1.0.0.3";
inline constexpr char kFamilyV6[] = "2606:4700:4700::1113,2606:4700:4700::1003";

// The service "Vellumbrook": its state (0 when there is none) and its process; a
// control sent to it; its removal, so that no service rewrites the machine
// during other tests.
struct ServiceState {
    DWORD state;
    DWORD processId;
};
ServiceState QueryVellumbrookService();
bool ControlVellumbrookService(DWORD control);
void RemoveVellumbrookService();

// A program started by a test, ended by its id if the test leaves it running.
class TestProcess {
public:
    TestProcess(const std::wstring& program, const std::wstring& arguments);
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
