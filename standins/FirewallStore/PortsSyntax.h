#pragma once

#include <string>

// Whether the firewall accepts text as a rule's local ports: "*", or a comma-separated list whose items
// are ports 0-65535, ranges "a-b" of such ports with a <= b, or the documented keywords (RPC, RPC-EPMap,
// IPHTTPS, Teredo, Ply2Disc, mDNS; letter case ignored). No blanks, no empty items.
bool LocalPortsAccepted(const std::wstring& text);
