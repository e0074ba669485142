#include <gtest/gtest.h>

#include <string>

#include "integration/FirewallRulePlan.h"
#include "link/JsonObject.h"

namespace {

TEST(JsonObject, FindsAStringMemberByNameIgnoringCaseFirstMatchWins)
{
    CJSonObject json;
    ASSERT_TRUE(json.Parse("{\"Ports\":\"80\",\"PORTS\":\"443\"}"));
    std::string value;
    EXPECT_TRUE(json.Get("ports", value));
    EXPECT_EQ(value, "80");
    // Leading blanks and text after the object are no obstacle.
    ASSERT_TRUE(json.Parse(" \t\n{\"ports\":\"1-2\"} trailing garbage"));
    EXPECT_TRUE(json.Get("ports", value));
    EXPECT_EQ(value, "1-2");
}

TEST(JsonObject, NonStringMembersAndNonObjectRootsGiveNothing)
{
    CJSonObject json;
    std::string value = "unchanged";
    for (const char* text : {"{\"ports\":80}", "{\"ports\":[\"80\"]}", "{\"ports\":null}", "{\"other\":\"80\"}",
                             "[\"ports\",\"80\"]", "\"ports\""}) {
        ASSERT_TRUE(json.Parse(text)) << text;
        EXPECT_FALSE(json.Get("ports", value)) << text;
    }
    EXPECT_EQ(value, "unchanged");
}

TEST(JsonObject, AFailedParseReportsWhereAndLeavesNoTree)
{
    CJSonObject json;
    ASSERT_TRUE(json.Parse("{\"ports\":\"80\"}"));
    EXPECT_FALSE(json.Parse("{\"ports\":\"80\" x}"));
    EXPECT_EQ(json.ErrorMessage().rfind("prase json string error at ", 0), 0u) << json.ErrorMessage();
    EXPECT_NE(json.ErrorMessage().find("x}"), std::string::npos) << json.ErrorMessage();
    std::string value;
    EXPECT_FALSE(json.Get("ports", value));
    EXPECT_FALSE(json.Parse(nullptr));
    EXPECT_FALSE(json.Parse(""));
}

TEST(FirewallRulePlan, UnrestrictedSetIsTcpUdpAndOutboundOnEveryProfile)
{
    const std::vector<FirewallRuleRequest> rules = ApplicationRuleSet(false);
    ASSERT_EQ(rules.size(), 3u);
    long expectedProtocol[] = {kFwProtocolTcp, kFwProtocolUdp, kFwProtocolAny};
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const FirewallRuleProperties p =
            RuleProperties(rules[i].inbound, rules[i].restrictPublic, rules[i].block, rules[i].protocol);
        EXPECT_EQ(p.direction, i < 2 ? kFwDirectionIn : kFwDirectionOut) << i;
        EXPECT_EQ(p.action, kFwActionAllow) << i;
        EXPECT_TRUE(p.setProtocol) << i;
        EXPECT_EQ(p.protocol, expectedProtocol[i]) << i;
        EXPECT_EQ(p.profiles, kFwProfilesAll) << i;
        EXPECT_EQ(p.deferEdgeTraversal, i < 2) << i;
        EXPECT_EQ(rules[i].withPorts, i < 2) << i;
    }
}

TEST(FirewallRulePlan, RestrictedSetKeepsTcpUdpOffPublicAndBlocksPublicInbound)
{
    const std::vector<FirewallRuleRequest> rules = ApplicationRuleSet(true);
    ASSERT_EQ(rules.size(), 4u);
    std::vector<FirewallRuleProperties> p;
    for (const FirewallRuleRequest& r : rules) {
        p.push_back(RuleProperties(r.inbound, r.restrictPublic, r.block, r.protocol));
    }
    EXPECT_EQ(p[0].profiles, kFwProfileDomain | kFwProfilePrivate);
    EXPECT_EQ(p[1].profiles, kFwProfileDomain | kFwProfilePrivate);
    EXPECT_EQ(p[2].direction, kFwDirectionIn);
    EXPECT_EQ(p[2].action, kFwActionBlock);
    EXPECT_EQ(p[2].protocol, kFwProtocolAny);
    EXPECT_EQ(p[2].profiles, kFwProfilePublic);
    EXPECT_TRUE(p[2].deferEdgeTraversal);
    EXPECT_FALSE(rules[2].withPorts);
    EXPECT_EQ(p[3].direction, kFwDirectionOut);
    EXPECT_EQ(p[3].profiles, kFwProfilesAll);
    EXPECT_FALSE(p[3].deferEdgeTraversal);
}

TEST(FirewallRulePlan, ProtocolTextIsCaseInsensitiveAndUnknownSetsNone)
{
    EXPECT_EQ(RuleProperties(true, false, false, "tcp").protocol, kFwProtocolTcp);
    EXPECT_EQ(RuleProperties(true, false, false, "Udp").protocol, kFwProtocolUdp);
    EXPECT_FALSE(RuleProperties(true, false, false, "ICMP").setProtocol);
}

TEST(FirewallRulePlan, PortsTextOverTheLimitIsRefusedNotCut)
{
    EXPECT_TRUE(LocalPortsFit(std::wstring(kMaxLocalPortsChars, L'1')));
    EXPECT_FALSE(LocalPortsFit(std::wstring(kMaxLocalPortsChars + 1, L'1')));
}

} // namespace
