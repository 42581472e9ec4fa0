// The enforcement pass. Nothing is compared with the machine's state: every
// pass re-issues every operation, which undoes changes made behind our back.
#include "protection/enforce.h"

#include "common/vb_lock.h"
#include "config/config.h"
#include "protection/dns.h"
#include "protection/dohlock.h"
#include "protection/hosts.h"

int VbEnforceFromConfig(VbPassReport* report) noexcept {
    VbMachineLock lock;
    VbPassReport done = {};
    int result = 0;
    VbConfig config;
    // What a standard user holds in the agent's folder is tried again on every pass,
    // and nothing is read while it stays. An unreadable file is not a first start:
    // applying its defaults would switch protection on or wipe the site list on a
    // whim of whoever holds the file.
    if (VbEnsureConfigDir() && VbLoadConfig(&config)) {
        done.configRead = 1;
        done.enabled = config.enabled ? 1 : 0;
        int dnsComplete = 0;
        if (config.enabled) {
            VbApplyFamilyDns(&dnsComplete);
            done.hostsFailed = !VbApplyHostsBlock(config.sites, config.siteCount);
            result = VbLockdownBrowserDoh();
        } else {
            VbRevertDns(&dnsComplete);
            done.hostsFailed = !VbClearHostsBlock();
            result = VbRevertBrowserDohLockdown();
        }
        done.dnsFailed = !dnsComplete;
        done.browsersFailed = !result;
    }
    if (report != nullptr) *report = done;
    return result;
}
