// The enforcement pass. Nothing is compared with the machine's state: every
// pass re-issues every operation, which undoes changes made behind our back.
#include "protection/enforce.h"

#include "common/vb_lock.h"
#include "config/config.h"
#include "protection/dns.h"
#include "protection/dnslock.h"
#include "protection/dohlock.h"
#include "protection/hosts.h"

namespace {

// Protection on; sites null when they are unknown: the hosts block then stays.
int Apply(const VbConfig* sites, VbPassReport& done) noexcept {
    int dnsComplete = 0;
    VbApplyFamilyDns(&dnsComplete);
    done.dnsFailed = !dnsComplete;
    done.lockFailed = !VbApplyDnsLock(&done.firewallOff);
    done.hostsFailed = sites == nullptr || !VbApplyHostsBlock(sites->sites, sites->siteCount);
    int result = VbLockdownBrowserDoh();
    done.browsersFailed = !result;
    return result;
}

int Revert(VbPassReport& done) noexcept {
    VbRevertDnsAndLock(done);
    done.hostsFailed = !VbClearHostsBlock();
    return VbRevertBrowserDohLockdown();
}

}  // namespace

void VbRevertDnsAndLock(VbPassReport& report) noexcept {
    int dnsComplete = 0;
    report.lockFailed = !VbRemoveDnsLock();
    if (!report.lockFailed) VbRevertDns(&dnsComplete);
    report.dnsFailed = !dnsComplete;
}

int VbEnforceFromConfig(VbPassReport* report) noexcept {
    VbMachineLock lock;
    VbPassReport done = {};
    int result = 0;
    VbConfig config;
    // What a standard user holds in the agent's folder is tried again on every pass,
    // and nothing is read while it stays. It must not switch protection off either:
    // what needs no setting is applied. An unreadable file of the agent's own is no
    // first start: applying its defaults would switch protection on or wipe the site
    // list on a whim of whoever holds the file.
    if (!VbEnsureConfigDir()) {
        done.enabled = 1;
        result = Apply(nullptr, done);
    } else if (VbLoadConfig(&config)) {
        done.configRead = 1;
        done.enabled = config.enabled ? 1 : 0;
        result = config.enabled ? Apply(&config, done) : Revert(done);
    }
    if (report != nullptr) *report = done;
    return result;
}
