// The enforcement pass. Nothing is compared with the machine's state: every
// pass re-issues every operation, which undoes changes made behind our back.
#include "protection/enforce.h"

#include "config/config.h"
#include "protection/dns.h"
#include "protection/dohlock.h"
#include "protection/hosts.h"

int VbEnforceFromConfig() noexcept {
    VbConfig config;
    // An unreadable file is not a first start: applying its defaults would switch
    // protection on or wipe the site list on a whim of whoever holds the file.
    if (!VbLoadConfig(&config)) return 0;
    if (config.enabled) {
        VbApplyFamilyDns();
        VbApplyHostsBlock(config.sites, config.siteCount);
        return VbLockdownBrowserDoh();
    }
    VbRevertDns();
    VbClearHostsBlock();
    return VbRevertBrowserDohLockdown();
}
