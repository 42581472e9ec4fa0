// Sets every adapter's DNS servers through netsh, one hidden command at a time.
#include "protection/dns.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <memory>
#include <new>
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
    bool ipv6;
};

constexpr DnsCommand kApplyCommands[] = {
    {L"netsh interface ipv4 set dnsservers name=\"", L"\" source=static address=",
     FamilyDnsV4Primary, L" register=none validate=no", false},
    {L"netsh interface ipv4 add dnsservers name=\"", L"\" address=", FamilyDnsV4Secondary,
     L" index=2 validate=no", false},
    {L"netsh interface ipv6 set dnsservers name=\"", L"\" source=static address=",
     FamilyDnsV6Primary, L" register=none validate=no", true},
    {L"netsh interface ipv6 add dnsservers name=\"", L"\" address=", FamilyDnsV6Secondary,
     L" index=2 validate=no", true},
};

constexpr DnsCommand kRevertCommands[] = {
    {L"netsh interface ipv4 set dnsservers name=\"", L"\" source=dhcp", L"", L"", false},
    {L"netsh interface ipv6 set dnsservers name=\"", L"\" source=dhcp", L"", L"", true},
};

// The interfaces as the IP Helper API reports them, asked once per call, and
// only when an IPv6 command failed: an interface with IPv6 turned off (unticked,
// or a VPN without it) makes every IPv6 command fail, which is no failure of ours.
class ReportedInterfaces {
public:
    bool Ipv6Off(std::wstring_view adapter) noexcept {
        if (!asked_) Ask();
        return Ipv6FailureExcused(
            {interfaces_, count_}, {reinterpret_cast<const char16_t*>(adapter.data()), adapter.size()});
    }

private:
    void Ask() noexcept {
        asked_ = true;
        constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                                 GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
        ULONG size = 16 * 1024;
        for (int attempt = 0; attempt < 3; ++attempt) {
            buffer_.reset(new (std::nothrow) BYTE[size]);
            if (!buffer_) return;
            auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer_.get());
            ULONG result = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr, first, &size);
            if (result == ERROR_BUFFER_OVERFLOW) continue;  // size now says what it needs
            if (result != NO_ERROR) return;
            for (IP_ADAPTER_ADDRESSES* one = first; one != nullptr && count_ < kMaxInterfaces;
                 one = one->Next)
                interfaces_[count_++] = {reinterpret_cast<const char16_t*>(one->FriendlyName),
                                         (one->Flags & IP_ADAPTER_IPV6_ENABLED) != 0};
            return;
        }
    }

    static constexpr std::size_t kMaxInterfaces = 64;
    ReportedInterface interfaces_[kMaxInterfaces];
    std::size_t count_ = 0;
    bool asked_ = false;
    std::unique_ptr<BYTE[]> buffer_;
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
    // and nothing is complete. Rows that are all skipped leave nothing to do; rows
    // past the last name kept, or two rows of one name, leave an adapter as it was.
    if (bytes.count == 0) return 0;

    int result = 0;
    bool everyCommand = !bytes.truncated && !bytes.duplicated;
    ReportedInterfaces reported;
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
            everyCommand = everyCommand && (ok || (command.ipv6 && reported.Ipv6Off(adapter)));
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
