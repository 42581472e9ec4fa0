// Machine-wide browser policies that keep DNS-over-HTTPS off, so that browsers
// resolve names through the adapters' DNS servers.
#pragma once

// 1 when every policy value was written.
int VbLockdownBrowserDoh() noexcept;
// Deletes the values again (and the Firefox DNSOverHTTPS key); always 1.
int VbRevertBrowserDohLockdown() noexcept;
