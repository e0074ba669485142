#pragma once

// Which firewall rules the service adds for an executable, with which properties, and whether a ports
// text may be handed to the firewall. No Windows headers: the values are the platform's enumerations,
// pinned against its headers where the rules are written.

#include <cstddef>
#include <string>
#include <vector>

// Every rule the service adds carries this name and grouping; removal goes by the name alone.
constexpr wchar_t kFirewallRuleName[] = L"Orvel";
constexpr wchar_t kFirewallRuleGrouping[] = L"Orvel";
constexpr wchar_t kFirewallRuleDescription[] = L"Allow Orvel temporary access public network";

// The firewall's values (NET_FW_RULE_DIRECTION, NET_FW_ACTION, NET_FW_IP_PROTOCOL, NET_FW_PROFILE_TYPE2,
// NET_FW_EDGE_TRAVERSAL_TYPE).
constexpr long kFwDirectionIn = 1;
constexpr long kFwDirectionOut = 2;
constexpr long kFwActionBlock = 0;
constexpr long kFwActionAllow = 1;
constexpr long kFwProtocolTcp = 6;
constexpr long kFwProtocolUdp = 17;
constexpr long kFwProtocolAny = 256;
constexpr long kFwProfileDomain = 1;
constexpr long kFwProfilePrivate = 2;
constexpr long kFwProfilePublic = 4;
constexpr long kFwProfilesAll = kFwProfileDomain | kFwProfilePrivate | kFwProfilePublic;
constexpr long kFwEdgeTraversalDeferToApp = 2;

// The longest ports text the service hands to the firewall, in UTF-16 characters. A longer text is
// refused whole: a cut list would open other ports than the application asked for.
constexpr std::size_t kMaxLocalPortsChars = 255;

// One AddFirewallRule call of an executable's rule set: its arguments.
struct FirewallRuleRequest {
    bool inbound = true;
    bool restrictPublic = false;
    bool block = false;
    bool withPorts = false;     // the request's ports text, when one is given
    const char* protocol = nullptr;  // "TCP", "UDP" or null (any)
};

// The calls for one executable, in the order of creation: inbound TCP and UDP allowed (with the ports),
// when restricted an inbound block of any protocol, and outbound allowed for any protocol.
std::vector<FirewallRuleRequest> ApplicationRuleSet(bool restrictPublic);

// The properties AddFirewallRule writes for its arguments.
struct FirewallRuleProperties {
    long direction = kFwDirectionIn;
    long action = kFwActionAllow;
    bool setProtocol = false;   // a protocol text other than TCP or UDP sets none
    long protocol = kFwProtocolAny;
    long profiles = kFwProfilesAll;
    bool deferEdgeTraversal = false;  // inbound rules only
};

// protocol: null for any; otherwise compared, upper-cased, with "TCP" and "UDP".
FirewallRuleProperties RuleProperties(bool inbound, bool restrictPublic, bool block, const char* protocol);

// Whether a ports text (already converted to UTF-16) may be given to the firewall: not longer than
// kMaxLocalPortsChars. The firewall itself judges the syntax.
bool LocalPortsFit(const std::wstring& ports);
