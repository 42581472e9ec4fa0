// Machine-wide policies that keep DNS-over-HTTPS off and the proxy the system's, in
// every browser and for every user, so that names are resolved through the
// adapters' DNS servers.
#pragma once

// 1 when every policy value was written.
int VbLockdownBrowserDoh() noexcept;
// Deletes the values again (and the Firefox DNSOverHTTPS key); always 1.
int VbRevertBrowserDohLockdown() noexcept;
