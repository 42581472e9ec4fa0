// Adapter DNS switching against the netsh simulator: the machine's end state and
// the exact commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protection/dns.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kList = "netsh interface ipv4 show interfaces";
const NetshSimDns kFamilyV4 = NetshSimDns::Static({"1.1.1.3", "1.0.0.3"});
const NetshSimDns kFamilyV6 = NetshSimDns::Static({"2606:4700:4700::1113", "2606:4700:4700::1003"});

NetshSimAdapter Adapter(unsigned index, std::string name) {
    NetshSimAdapter adapter;
    adapter.index = index;
    adapter.name = std::move(name);
    return adapter;
}

Strings ApplyLines(const std::string& name) {
    return {
        "netsh interface ipv4 set dnsservers name=\"" + name +
            "\" source=static address=1.1.1.3 register=none validate=no",
        "netsh interface ipv4 add dnsservers name=\"" + name +
            "\" address=1.0.0.3 index=2 validate=no",
        "netsh interface ipv6 set dnsservers name=\"" + name +
            "\" source=static address=2606:4700:4700::1113 register=none validate=no",
        "netsh interface ipv6 add dnsservers name=\"" + name +
            "\" address=2606:4700:4700::1003 index=2 validate=no",
    };
}

Strings RevertLines(const std::string& name) {
    return {
        "netsh interface ipv4 set dnsservers name=\"" + name + "\" source=dhcp",
        "netsh interface ipv6 set dnsservers name=\"" + name + "\" source=dhcp",
    };
}

Strings Concat(std::initializer_list<Strings> parts) {
    Strings all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class AdapterDns : public testing::Test {
protected:
    void SetUp() override { ClearNetshSimLog(); }

    // Loopback, an adapter with an inner space, one with an accented name (é is
    // 0x82 in code page 437) and a disconnected one with static servers of its own.
    static NetshSimState Machine() {
        NetshSimState state;
        state.adapters.push_back(Adapter(1, "Loopback Pseudo-Interface 1"));
        state.adapters.push_back(Adapter(12, "Wi-Fi 2"));
        state.adapters.push_back(Adapter(7, "Ethernet caf\x82"));
        NetshSimAdapter old = Adapter(9, "Ethernet 3");
        old.connected = false;
        old.ipv4 = NetshSimDns::Static({"9.9.9.9"});
        old.ipv6 = NetshSimDns::Static({"2620:fe::fe", "2620:fe::9"});
        state.adapters.push_back(old);
        return state;
    }
};

}  // namespace

TEST_F(AdapterDns, ApplySetsThePairOnEveryAdapterButLoopback) {
    NetshSimState before = Machine();
    WriteNetshSimState(before);
    EXPECT_EQ(VbApplyFamilyDns(), 1);

    NetshSimState after = ReadNetshSimState();
    ASSERT_EQ(after.adapters.size(), 4u);
    EXPECT_EQ(after.adapters[0], before.adapters[0]);  // loopback untouched
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(after.adapters[i].ipv4, kFamilyV4) << after.adapters[i].name;
        EXPECT_EQ(after.adapters[i].ipv6, kFamilyV6) << after.adapters[i].name;
    }
    // The accented name went out in UTF-16 and matched its OEM bytes.
    EXPECT_EQ(ReadNetshSimLog(), Concat({{kList},
                                         ApplyLines("Wi-Fi 2"),
                                         ApplyLines("Ethernet caf\xC3\xA9"),
                                         ApplyLines("Ethernet 3")}));

    ClearNetshSimLog();
    EXPECT_EQ(VbApplyFamilyDns(), 1);  // again: same machine
    EXPECT_EQ(ReadNetshSimState(), after);
}

TEST_F(AdapterDns, RevertReturnsEachFamilyToDhcpIpv4First) {
    NetshSimState state = Machine();
    for (auto& adapter : state.adapters)
        adapter.ipv4 = kFamilyV4, adapter.ipv6 = kFamilyV6;
    WriteNetshSimState(state);
    EXPECT_EQ(VbRevertDns(), 1);

    NetshSimState after = ReadNetshSimState();
    EXPECT_EQ(after.adapters[0].ipv4, kFamilyV4);  // loopback is never touched
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_TRUE(after.adapters[i].ipv4.dhcp) << after.adapters[i].name;
        EXPECT_TRUE(after.adapters[i].ipv6.dhcp) << after.adapters[i].name;
    }
    EXPECT_EQ(ReadNetshSimLog(), Concat({{kList},
                                         RevertLines("Wi-Fi 2"),
                                         RevertLines("Ethernet caf\xC3\xA9"),
                                         RevertLines("Ethernet 3")}));
}

TEST_F(AdapterDns, ResultFollowsTheIpv4SetOfEachAdapter) {
    NetshSimState state;
    state.adapters = {Adapter(3, "Eth A"), Adapter(4, "Eth B")};
    for (auto& adapter : state.adapters)
        adapter.fail = kSimIpv4Set;
    WriteNetshSimState(state);
    EXPECT_EQ(VbApplyFamilyDns(), 0);
    // Every other command still ran.
    NetshSimState after = ReadNetshSimState();
    EXPECT_EQ(after.adapters[1].ipv6, kFamilyV6);
    EXPECT_EQ(ReadNetshSimLog().size(), 1u + 2 * 4);

    state.adapters[1].fail = kSimIpv4Add | kSimIpv6Set;  // only the first command counts
    WriteNetshSimState(state);
    EXPECT_EQ(VbApplyFamilyDns(), 1);

    state.adapters[0].fail = kSimIpv4Dhcp;
    state.adapters[1].fail = kSimIpv4Dhcp;
    WriteNetshSimState(state);
    EXPECT_EQ(VbRevertDns(), 0);
}

TEST_F(AdapterDns, NoListingOrNoAdapterRunsNoCommand) {
    NetshSimState state;
    state.adapters = {Adapter(3, "Eth A")};
    state.options.listEmpty = true;
    WriteNetshSimState(state);
    EXPECT_EQ(VbApplyFamilyDns(), 0);
    EXPECT_EQ(ReadNetshSimLog(), Strings{kList});

    ClearNetshSimLog();
    state.options = {};
    state.options.listFails = true;
    WriteNetshSimState(state);
    EXPECT_EQ(VbRevertDns(), 0);
    EXPECT_EQ(ReadNetshSimLog(), Strings{kList});

    ClearNetshSimLog();
    WriteNetshSimState(NetshSimState{});  // headings only
    EXPECT_EQ(VbApplyFamilyDns(), 0);
    EXPECT_EQ(ReadNetshSimLog(), Strings{kList});

    ClearNetshSimLog();
    state = {};
    state.adapters = {Adapter(1, "Loopback Pseudo-Interface 1")};
    WriteNetshSimState(state);
    EXPECT_EQ(VbApplyFamilyDns(), 0);
    EXPECT_EQ(ReadNetshSimLog(), Strings{kList});
}

TEST_F(AdapterDns, QuotedAndLowercaseLoopbackNames) {
    NetshSimState state;
    state.adapters = {Adapter(3, "Evil\" & calc"), Adapter(4, "my loopback tap")};
    WriteNetshSimState(state);
    EXPECT_EQ(VbApplyFamilyDns(), 1);
    // A double quote cannot be quoted on a command line: that adapter is skipped.
    // "loopback" in lower case is an ordinary adapter.
    EXPECT_EQ(ReadNetshSimLog(), Concat({{kList}, ApplyLines("my loopback tap")}));
    EXPECT_TRUE(ReadNetshSimState().adapters[0].ipv4.dhcp);
}

TEST_F(AdapterDns, OnlyTheFirstThirtyTwoAdaptersAreUsed) {
    NetshSimState state;
    for (unsigned i = 1; i <= 40; ++i)
        state.adapters.push_back(Adapter(i + 10, "Eth " + std::to_string(i)));
    WriteNetshSimState(state);
    EXPECT_EQ(VbRevertDns(), 1);
    Strings log = ReadNetshSimLog();
    ASSERT_EQ(log.size(), 1u + 32 * 2);
    EXPECT_EQ(log.back(), RevertLines("Eth 32")[1]);
}
