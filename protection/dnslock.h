// The DNS lock: Windows Firewall rules, made with netsh, that let DNS and DNS over
// TLS (ports 53 and 853) reach the family resolver and loopback only, and DNS over
// HTTPS (port 443) reach none of the public resolvers that answer it. A program that
// asks another resolver itself, or a router's, then gets no answer.
#pragma once

// Puts every rule of the lock as it should be, whatever it finds (deleted, disabled,
// changed, duplicated): changed in place, added only where none exists, never
// removed for a moment. 1 when every rule is. firewallOff, when given, is set to 1
// when the firewall applies no local rule on some network profile (switched off, or
// Group Policy ignores local rules): the lock then holds nothing there, which is no
// failure of the pass. The firewall itself is never switched on or off.
int VbApplyDnsLock(int* firewallOff = nullptr) noexcept;
// Deletes every rule of the lock. 1 when none is left.
int VbRemoveDnsLock() noexcept;
