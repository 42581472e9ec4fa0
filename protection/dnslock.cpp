// The DNS lock's firewall rules through netsh, and whether the firewall applies them.
#include "protection/dnslock.h"

#include <windows.h>

#include <string_view>

#include "common/vb_text.h"
#include "protection/dns.h"
#include "protection/dnslock_core.h"
#include "protection/procutil.h"

namespace {

// Each protocol is a rule of its own: a rule with ports needs one.
struct LockRule {
    std::wstring_view name;
    std::wstring_view protocol;
    std::wstring_view ports;
    bool publicResolvers;  // the table of port 443, else all but the family resolver
};
constexpr LockRule kRules[] = {
    {L"Vellumbrook - verrou DNS (UDP)", L"udp", L"53,853", false},
    {L"Vellumbrook - verrou DNS (TCP)", L"tcp", L"53,853", false},
    {L"Vellumbrook - DNS sur HTTPS (UDP)", L"udp", L"443", true},
    {L"Vellumbrook - DNS sur HTTPS (TCP)", L"tcp", L"443", true},
};

constexpr std::size_t kAddressesMax = 1024;
constexpr std::size_t kCommandMax = kAddressesMax + 512;

// The remoteip lists, as UTF-16.
struct Addresses {
    wchar_t allButFamily[kAddressesMax];
    wchar_t publicResolvers[kAddressesMax];
};

bool Widen(std::string_view text, wchar_t (&out)[kAddressesMax]) noexcept {
    if (text.empty() || text.size() >= kAddressesMax) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<unsigned char>(text[i]);
    out[text.size()] = L'\0';
    return true;
}

bool Narrow(std::wstring_view text, char (&out)[64]) noexcept {
    if (text.size() >= sizeof out) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(text[i]);
    out[text.size()] = '\0';
    return true;
}

bool MakeAddresses(Addresses& out) noexcept {
    char family[4][64];
    char list[kAddressesMax];
    if (!Narrow(FamilyDnsV4Primary, family[0]) || !Narrow(FamilyDnsV4Secondary, family[1]) ||
        !Narrow(FamilyDnsV6Primary, family[2]) || !Narrow(FamilyDnsV6Secondary, family[3]))
        return false;
    const std::string_view resolver[] = {family[0], family[1], family[2], family[3]};
    std::size_t length = DnsLockRemoteAddresses(resolver, list);
    return length != 0 && Widen({list, length}, out.allButFamily) &&
           Widen(PublicResolverAddresses, out.publicResolvers);
}

// Runs netsh with these parts; true when it ran and ended, with its exit code.
bool Netsh(std::initializer_list<std::wstring_view> parts, unsigned long& exitCode) noexcept {
    wchar_t line[kCommandMax];
    return VbJoin<wchar_t>(line, parts) && VbRunHiddenCode(line, &exitCode);
}

// What the rule must be, after its name: the same for "set ... new" and "add".
bool Settings(const LockRule& rule, const Addresses& addresses,
              wchar_t (&out)[kCommandMax]) noexcept {
    return VbJoin<wchar_t>(
        out, {L" enable=yes dir=out action=block profile=any protocol=", rule.protocol,
              L" localip=any remoteip=",
              rule.publicResolvers ? addresses.publicResolvers : addresses.allButFamily,
              L" localport=any remoteport=", rule.ports, L" interfacetype=any"});
}

// Whether a rule of that name exists, as netsh's exit code tells it (0: shown, 1: none
// matches), never from its text, which Windows translates. False when it cannot tell.
bool Exists(const LockRule& rule, bool& exists) noexcept {
    unsigned long code = 0;
    if (!Netsh({L"netsh advfirewall firewall show rule name=\"", rule.name, L"\""}, code) ||
        code > 1)
        return false;
    exists = code == 0;
    return true;
}

bool ApplyRule(const LockRule& rule, const Addresses& addresses) noexcept {
    wchar_t settings[kCommandMax];
    unsigned long code = 1;
    if (!Settings(rule, addresses, settings)) return false;
    // Every rule of that name, put right in place: the lock never has a gap.
    if (Netsh({L"netsh advfirewall firewall set rule name=\"", rule.name, L"\" new", settings},
              code) &&
        code == 0)
        return true;
    bool exists = true;
    if (!Exists(rule, exists) || exists) return false;
    return Netsh({L"netsh advfirewall firewall add rule name=\"", rule.name, L"\"", settings},
                 code) &&
           code == 0;
}

// True when deleted, or when netsh saw none to delete (noneSeen then set).
bool RemoveRule(const LockRule& rule, bool& noneSeen) noexcept {
    unsigned long code = 1;
    if (Netsh({L"netsh advfirewall firewall delete rule name=\"", rule.name, L"\""}, code) &&
        code == 0)
        return true;
    bool exists = true;
    if (!Exists(rule, exists) || exists) return false;
    noneSeen = true;
    return true;
}

// A DWORD value under HKLM, or fallback when there is none.
DWORD Value(const wchar_t* key, const wchar_t* name, DWORD fallback) noexcept {
    DWORD value = 0;
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                   ERROR_SUCCESS
               ? value
               : fallback;
}

// Group Policy first, then the firewall's own settings; a value nowhere is the
// default: the firewall on, local rules applied.
bool LocalRulesApply() noexcept {
    static constexpr const wchar_t* kPolicy[] = {
        L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall\\DomainProfile",
        L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall\\PrivateProfile",
        L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall\\PublicProfile"};
    static constexpr const wchar_t* kLocal[] = {
        L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
        L"DomainProfile",
        L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
        L"StandardProfile",
        L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
        L"PublicProfile"};
    // Every profile: a VPN or a shared phone may bring any of them.
    for (int i = 0; i < 3; ++i) {
        DWORD on = Value(kPolicy[i], L"EnableFirewall", Value(kLocal[i], L"EnableFirewall", 1));
        if (on == 0 || Value(kPolicy[i], L"AllowLocalPolicyMerge", 1) == 0) return false;
    }
    return true;
}

}  // namespace

int VbApplyDnsLock(int* firewallOff) noexcept {
    if (firewallOff != nullptr) *firewallOff = LocalRulesApply() ? 0 : 1;
    Addresses addresses;
    if (!MakeAddresses(addresses)) return 0;
    int ok = 1;
    for (const LockRule& rule : kRules)
        ok = ApplyRule(rule, addresses) && ok;
    return ok;
}

int VbRemoveDnsLock() noexcept {
    bool noneSeen = false;
    int ok = 1;
    for (const LockRule& rule : kRules)
        ok = RemoveRule(rule, noneSeen) && ok;
    // netsh also ends with 1 when the firewall service does not answer, stopped say, and
    // the rules it keeps come back with it: "none" holds only if the firewall answers.
    // (Adding needs no such check: an add that succeeds was answered.)
    unsigned long code = 1;
    return ok &&
           (!noneSeen || (Netsh({L"netsh advfirewall show currentprofile"}, code) && code == 0));
}
