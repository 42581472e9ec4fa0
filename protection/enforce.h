// One enforcement pass: bring the machine into line with config.dat.
#pragma once

// What a pass did, step by step: what the parent is shown.
struct VbPassReport {
    int configRead;  // 0: config.dat could not be read, and nothing was applied
    int enabled;     // the switch the pass followed: 1 applied, 0 reverted
    int dnsFailed;   // the adapters' DNS
    int hostsFailed;
    int browsersFailed;
};

// Holding the machine-wide lock, takes the agent's folder back from whatever a
// standard user put there, loads the configuration afresh and applies
// (protection on) or reverts (off) adapter DNS, the hosts block and the browser
// policies, in that order, each attempted whatever the earlier ones returned.
// Returns the browser step's result; 0 without touching anything when the folder
// holds what is not the agent's, or the configuration cannot be read. report,
// when given, says which steps failed.
int VbEnforceFromConfig(VbPassReport* report = nullptr) noexcept;

// A report as bits, and back: a window message carries it, never a pointer.
inline unsigned VbPackPassReport(const VbPassReport& report) noexcept {
    return (report.configRead ? 1u : 0u) | (report.enabled ? 2u : 0u) |
           (report.dnsFailed ? 4u : 0u) | (report.hostsFailed ? 8u : 0u) |
           (report.browsersFailed ? 16u : 0u);
}
inline VbPassReport VbUnpackPassReport(unsigned bits) noexcept {
    auto bit = [bits](unsigned mask) { return (bits & mask) != 0 ? 1 : 0; };
    return {bit(1), bit(2), bit(4), bit(8), bit(16)};
}
