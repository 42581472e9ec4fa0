// Sets every interface's DNS servers through netsh, one hidden command at a time,
// each interface named by its index.
#include "protection/dns.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "common/vb_handle.h"
#include "common/vb_system.h"
#include "common/vb_text.h"
#include "protection/dns_core.h"
#include "protection/procutil.h"

namespace {

// One netsh command: head, the interface's index, middle, the address, tail.
struct DnsCommand {
    std::wstring_view head;
    std::wstring_view middle;
    std::wstring_view address;
    std::wstring_view tail;
    bool ipv6;
};

constexpr DnsCommand kApplyCommands[] = {
    {L"netsh interface ipv4 set dnsservers name=", L" source=static address=", FamilyDnsV4Primary,
     L" register=none validate=no", false},
    {L"netsh interface ipv4 add dnsservers name=", L" address=", FamilyDnsV4Secondary,
     L" index=2 validate=no", false},
    {L"netsh interface ipv6 set dnsservers name=", L" source=static address=", FamilyDnsV6Primary,
     L" register=none validate=no", true},
    {L"netsh interface ipv6 add dnsservers name=", L" address=", FamilyDnsV6Secondary,
     L" index=2 validate=no", true},
};

constexpr DnsCommand kRevertCommands[] = {
    {L"netsh interface ipv4 set dnsservers name=", L" source=dhcp", L"", L"", false},
    {L"netsh interface ipv6 set dnsservers name=", L" source=dhcp", L"", L"", true},
};

// The interfaces as the IP Helper API reports them: which one is the loopback
// interface, and where IPv6 is turned off (unticked, or a VPN without it), which
// makes every IPv6 command fail through no failure of ours. Nothing when the API
// fails: then no interface is spared.
class ReportedInterfaces {
public:
    ReportedInterfaces() noexcept {
        static const auto get = VB_SYSTEM_FN(L"iphlpapi.dll", GetAdaptersAddresses);
        constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                                 GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
        ULONG size = 16 * 1024;
        for (int attempt = 0; get != nullptr && attempt < 3; ++attempt) {
            std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
            if (!buffer) return;
            auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
            ULONG result = get(AF_UNSPEC, kFlags, nullptr, first, &size);
            if (result == ERROR_BUFFER_OVERFLOW) continue;  // size now says what it needs
            if (result != NO_ERROR) return;
            for (IP_ADAPTER_ADDRESSES* one = first; one != nullptr && count_ < kMax;
                 one = one->Next)
                interfaces_[count_++] = {one->IfIndex, one->IfType == IF_TYPE_SOFTWARE_LOOPBACK,
                                         (one->Flags & IP_ADAPTER_IPV6_ENABLED) != 0};
            return;
        }
    }
    std::span<const ReportedInterface> All() const noexcept { return {interfaces_, count_}; }

private:
    static constexpr std::size_t kMax = 64;
    ReportedInterface interfaces_[kMax] = {};
    std::size_t count_ = 0;
};

int RunCommand(const DnsCommand& command, unsigned index) noexcept {
    wchar_t number[16];
    wchar_t line[256];
    int digits = _snwprintf(number, 16, L"%u", index);
    if (digits <= 0 || digits >= 16 ||
        !VbJoin<wchar_t>(line, {command.head, std::wstring_view(number, digits), command.middle,
                                command.address, command.tail}))
        return 0;
    return VbRunHidden(line);
}

int ApplyToAllAdapters(int apply, int* complete) noexcept {
    int ignored = 0;
    int& allDone = complete != nullptr ? *complete : ignored;
    allDone = 0;
    wchar_t listCommand[] = L"netsh interface ipv4 show interfaces";
    VbUniqueMalloc text(VbRunHiddenCapture(listCommand));
    if (!text || text.Get()[0] == '\0') return 0;
    InterfaceListing listing;
    ParseInterfaceListing(text.Get(), listing);
    text.Reset();
    // A listing without a single row is not one netsh would print: nothing is done,
    // and nothing is complete.
    if (listing.count == 0) return 0;

    ReportedInterfaces reported;
    InterfaceChoice choice = ChooseInterfaces(listing, reported.All());
    bool everyCommand = choice.complete;
    int result = 0;
    std::span<const DnsCommand> commands = apply ? std::span<const DnsCommand>(kApplyCommands)
                                                 : std::span<const DnsCommand>(kRevertCommands);
    for (int i = 0; i < choice.count; ++i) {
        bool first = true;
        for (const DnsCommand& command : commands) {
            int ok = RunCommand(command, choice.indexes[i]);
            if (first && ok) result = 1;
            everyCommand =
                everyCommand &&
                (ok || (command.ipv6 && Ipv6FailureExcused(reported.All(), choice.indexes[i])));
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
