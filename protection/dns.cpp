// Sets every adapter's DNS servers through netsh, one hidden command at a time.
#include "protection/dns.h"

#include <windows.h>

#include <span>
#include <string_view>

#include "common/vb_handle.h"
#include "common/vb_text.h"
#include "protection/dns_core.h"
#include "protection/procutil.h"

namespace {

// One netsh command: head, the adapter name, middle, the address, tail.
struct DnsCommand {
    std::wstring_view head;
    std::wstring_view middle;
    std::wstring_view address;
    std::wstring_view tail;
};

constexpr DnsCommand kApplyCommands[] = {
    {L"netsh interface ipv4 set dnsservers name=\"", L"\" source=static address=",
     FamilyDnsV4Primary, L" register=none validate=no"},
    {L"netsh interface ipv4 add dnsservers name=\"", L"\" address=", FamilyDnsV4Secondary,
     L" index=2 validate=no"},
    {L"netsh interface ipv6 set dnsservers name=\"", L"\" source=static address=",
     FamilyDnsV6Primary, L" register=none validate=no"},
    {L"netsh interface ipv6 add dnsservers name=\"", L"\" address=", FamilyDnsV6Secondary,
     L" index=2 validate=no"},
};

constexpr DnsCommand kRevertCommands[] = {
    {L"netsh interface ipv4 set dnsservers name=\"", L"\" source=dhcp", L"", L""},
    {L"netsh interface ipv6 set dnsservers name=\"", L"\" source=dhcp", L"", L""},
};

constexpr std::size_t kCommandCapacity = 1024;

int RunCommand(const DnsCommand& command, std::wstring_view adapter) noexcept {
    wchar_t line[kCommandCapacity];
    if (!VbJoin<wchar_t>(line,
                         {command.head, adapter, command.middle, command.address, command.tail}))
        return 0;
    return VbRunHidden(line);
}

// Listing bytes are in the OEM code page; the code page is a parameter so that
// the conversion does not depend on where it is called from.
void OemToWide(UINT codePage, const char* name, wchar_t (&slot)[DnsNameMax + 1]) noexcept {
    if (MultiByteToWideChar(codePage, 0, name, -1, slot, DnsNameMax + 1) == 0) slot[0] = L'\0';
}

int ApplyToAllAdapters(int apply, int* complete) noexcept {
    int ignored = 0;
    int& allDone = complete != nullptr ? *complete : ignored;
    allDone = 0;
    wchar_t listCommand[] = L"netsh interface ipv4 show interfaces";
    VbUniqueMalloc listing(VbRunHiddenCapture(listCommand));
    if (!listing || listing.Get()[0] == '\0') return 0;

    AdapterNameList bytes;
    ParseInterfaceListing(listing.Get(), bytes);
    listing.Reset();
    // A listing without a single row is not one netsh would print: nothing is done,
    // and nothing is complete. Rows that are all skipped leave nothing to do.
    if (bytes.count == 0) return 0;

    int result = 0;
    bool everyCommand = true;
    for (int i = 0; i < bytes.count; ++i) {
        wchar_t name[DnsNameMax + 1];
        OemToWide(CP_OEMCP, bytes.names[i], name);
        std::wstring_view adapter(name);
        if (adapter.empty() || adapter.find(L"Loopback") != std::wstring_view::npos) continue;
        // A double quote cannot be quoted on a netsh command line, and a final
        // backslash would escape the closing quote (name="Wi-Fi\"): such an
        // adapter cannot be set, and the step is not complete.
        if (adapter.find(L'"') != std::wstring_view::npos || adapter.back() == L'\\') {
            everyCommand = false;
            continue;
        }
        bool first = true;
        std::span<const DnsCommand> commands = apply ? std::span<const DnsCommand>(kApplyCommands)
                                                     : std::span<const DnsCommand>(kRevertCommands);
        for (const DnsCommand& command : commands) {
            int ok = RunCommand(command, adapter);
            if (first && ok) result = 1;
            everyCommand = everyCommand && ok;
            first = false;
        }
    }
    allDone = everyCommand ? 1 : 0;
    return result;
}

}  // namespace

int VbApplyFamilyDns(int* complete) noexcept {
    return ApplyToAllAdapters(1, complete);
}

int VbRevertDns(int* complete) noexcept {
    return ApplyToAllAdapters(0, complete);
}
