// One enforcement pass: bring the machine into line with config.dat.
#pragma once

// What a pass did, step by step: what the parent is shown.
struct VbPassReport {
    int configRead;  // 0: config.dat could not be read (see VbEnforceFromConfig)
    int enabled;     // the switch the pass followed: 1 applied, 0 reverted
    int dnsFailed;   // the adapters' DNS
    int hostsFailed;
    int browsersFailed;
    int lockFailed;   // the DNS lock's firewall rules
    int firewallOff;  // the firewall applies no local rule somewhere: the lock holds nothing
};

// Holding the machine-wide lock, takes the agent's folder back from whatever a
// standard user put there, loads the configuration afresh and applies (protection
// on) adapter DNS, the DNS lock, the hosts block and the browser policies, in that
// order, or reverts (off) the DNS lock, then adapter DNS (see VbRevertDnsAndLock),
// the hosts block and the browser policies; each step is attempted whatever the
// earlier ones returned. While something foreign stays in the agent's folder (a
// standard user holds it open), the pass fails closed: it applies all that needs no
// setting and leaves the hosts block as it stands, the parent's sites being unknown.
// A file of the agent's own that cannot be read (a scanner holds it) changes
// nothing. Returns the browser step's result; report, when given, says which steps
// failed.
int VbEnforceFromConfig(VbPassReport* report = nullptr) noexcept;

// Removes the DNS lock, then returns the adapters to DHCP, in that order: with the
// lock still there, DHCP's resolvers would answer nothing. A lock that stays keeps
// the adapters on the family resolver, which it lets through, and both steps
// count as failed in report.
void VbRevertDnsAndLock(VbPassReport& report) noexcept;

// A report as bits, and back: a window message carries it, never a pointer.
inline unsigned VbPackPassReport(const VbPassReport& report) noexcept {
    const int bits[] = {report.configRead,  report.enabled,        report.dnsFailed,
                        report.hostsFailed, report.browsersFailed, report.lockFailed,
                        report.firewallOff};
    unsigned packed = 0;
    for (unsigned i = 0; i < 7; ++i)
        packed |= bits[i] ? 1u << i : 0u;
    return packed;
}
inline VbPassReport VbUnpackPassReport(unsigned bits) noexcept {
    auto bit = [bits](unsigned i) { return (bits >> i) & 1 ? 1 : 0; };
    return {bit(0), bit(1), bit(2), bit(3), bit(4), bit(5), bit(6)};
}
