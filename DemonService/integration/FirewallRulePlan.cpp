#include "integration/FirewallRulePlan.h"

#include <cctype>
#include <string>

namespace {

std::string UpperAscii(const char* text)
{
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

} // namespace

std::vector<FirewallRuleRequest> ApplicationRuleSet(bool restrictPublic)
{
    std::vector<FirewallRuleRequest> rules;
    rules.push_back({true, restrictPublic, false, true, "TCP"});
    rules.push_back({true, restrictPublic, false, true, "UDP"});
    if (restrictPublic) {
        rules.push_back({true, true, true, false, nullptr});
    }
    rules.push_back({false, false, false, false, nullptr});
    return rules;
}

FirewallRuleProperties RuleProperties(bool inbound, bool restrictPublic, bool block, const char* protocol)
{
    FirewallRuleProperties properties;
    properties.direction = inbound ? kFwDirectionIn : kFwDirectionOut;
    properties.action = block ? kFwActionBlock : kFwActionAllow;
    if (protocol == nullptr) {
        properties.setProtocol = true;
        properties.protocol = kFwProtocolAny;
    } else {
        const std::string upper = UpperAscii(protocol);
        if (upper == "TCP") {
            properties.setProtocol = true;
            properties.protocol = kFwProtocolTcp;
        } else if (upper == "UDP") {
            properties.setProtocol = true;
            properties.protocol = kFwProtocolUdp;
        }
    }
    if (restrictPublic) {
        properties.profiles = block ? kFwProfilePublic : (kFwProfileDomain | kFwProfilePrivate);
    } else {
        properties.profiles = kFwProfilesAll;
    }
    properties.deferEdgeTraversal = inbound;
    return properties;
}

bool LocalPortsFit(const std::wstring& ports) { return ports.size() <= kMaxLocalPortsChars; }
