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

// Loads the configuration afresh and applies (protection on) or reverts (off)
// adapter DNS, the hosts block and the browser policies, in that order, each
// attempted whatever the earlier ones returned. Returns the browser step's
// result; 0 without touching anything when the configuration cannot be read.
int VbEnforceFromConfig() noexcept;
// The same pass; report, when given, says which steps failed.
int VbEnforceAndReport(VbPassReport* report) noexcept;
