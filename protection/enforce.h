// One enforcement pass: bring the machine into line with config.dat.
#pragma once

// Loads the configuration afresh and applies (protection on) or reverts (off)
// adapter DNS, the hosts block and the browser policies, in that order, each
// attempted whatever the earlier ones returned. Returns the browser step's
// result; 0 without touching anything when the configuration cannot be read.
int VbEnforceFromConfig() noexcept;
