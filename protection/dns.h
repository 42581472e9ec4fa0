// Every network interface's DNS servers: the family-filtering resolver, or DHCP.
#pragma once

// The resolver that filters malware and adult content (primary and secondary).
inline constexpr wchar_t FamilyDnsV4Primary[] = L"1.1.1.3";
inline constexpr wchar_t FamilyDnsV4Secondary[] = L"1.0.0.3";
inline constexpr wchar_t FamilyDnsV6Primary[] = L"2606:4700:4700::1113";
inline constexpr wchar_t FamilyDnsV6Secondary[] = L"2606:4700:4700::1003";

// Every interface of the listing, by its index, but the loopback interface.
// 1 when, for at least one interface, its IPv4 "set" command succeeded. complete,
// when given, is set to 1 when the listing named interfaces, each could be named
// surely (see InterfaceChoice), and every command run for them succeeded; an IPv6
// command that fails where the system reports IPv6 turned off is no failure.
int VbApplyFamilyDns(int* complete = nullptr) noexcept;
int VbRevertDns(int* complete = nullptr) noexcept;
