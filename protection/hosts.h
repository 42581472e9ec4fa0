// The agent's block of lines in the system hosts file.
#pragma once

#include "config/config.h"

// Replaces the agent's block with one for the first siteCount slots of sites
// (no block when siteCount <= 0). 1 when the hosts file was replaced.
int VbApplyHostsBlock(const char (*sites)[VbSiteSlotSize], int siteCount) noexcept;
// Removes the agent's block. 1 when the hosts file was replaced.
int VbClearHostsBlock() noexcept;
