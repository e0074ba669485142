#include "integration/FirewallRules.h"

#include <oleauto.h>

#include <cwchar>
#include <string>

#include "base/AnsiText.h"
#include "base/EventLog.h"
#include "base/FileSystem.h"
#include "base/ReturnIfFailed.h"
#include "base/SharedState.h"
#include "base/Win32Resources.h"
#include "integration/FirewallRulePlan.h"

static_assert(kFwDirectionIn == NET_FW_RULE_DIR_IN && kFwDirectionOut == NET_FW_RULE_DIR_OUT, "direction");
static_assert(kFwActionBlock == NET_FW_ACTION_BLOCK && kFwActionAllow == NET_FW_ACTION_ALLOW, "action");
// MinGW's headers lack NET_FW_IP_PROTOCOL_ANY and NET_FW_EDGE_TRAVERSAL_TYPE; those two stay as documented.
static_assert(kFwProtocolTcp == NET_FW_IP_PROTOCOL_TCP && kFwProtocolUdp == NET_FW_IP_PROTOCOL_UDP, "protocol");
static_assert(kFwProfileDomain == NET_FW_PROFILE2_DOMAIN && kFwProfilePrivate == NET_FW_PROFILE2_PRIVATE &&
                  kFwProfilePublic == NET_FW_PROFILE2_PUBLIC,
              "profiles");

namespace {

// A removal pass that finds as many rules as the one before it made no progress: the collection does
// not remove by name, and asking again would never end.
constexpr int kMaxRemovalPasses = 64;

// The ports text as the firewall takes it, or nothing when it cannot be converted or is too long.
bool WidePorts(const char* localPorts, std::wstring* ports)
{
    *ports = FromAnsi(localPorts);
    return !ports->empty() && LocalPortsFit(*ports);
}

UniqueBstr MakeBstr(const wchar_t* text) { return UniqueBstr(::SysAllocString(text)); }

// How many rules named exactly "Orvel" one full pass of the enumerator sees.
HRESULT CountOrvelRules(INetFwRules* rules, long* count)
{
    *count = 0;
    UniqueComPtr<IUnknown> enumeratorUnknown;
    RETURN_IF_FAILED(rules->get__NewEnum(enumeratorUnknown.put()));
    UniqueComPtr<IEnumVARIANT> enumerator;
    RETURN_IF_FAILED(enumeratorUnknown.get()->QueryInterface(__uuidof(IEnumVARIANT), enumerator.put_void()));
    for (;;) {
        VARIANT element;
        ::VariantInit(&element);
        ULONG fetched = 0;
        const HRESULT hr = enumerator.get()->Next(1, &element, &fetched);
        if (hr != S_OK || fetched != 1) {
            ::VariantClear(&element);
            return FAILED(hr) ? hr : S_OK;
        }
        // An element that is no rule, or whose name cannot be read, is passed over.
        UniqueComPtr<INetFwRule> rule;
        if (element.vt == VT_DISPATCH && element.pdispVal != nullptr) {
            element.pdispVal->QueryInterface(__uuidof(INetFwRule), rule.put_void());
        }
        ::VariantClear(&element);
        UniqueBstr name;
        if (rule && SUCCEEDED(rule.get()->get_Name(name.put())) && name &&
            ::SysStringLen(name.get()) == std::wcslen(kFirewallRuleName) &&
            std::wcscmp(name.get(), kFirewallRuleName) == 0) {
            ++*count;
        }
    }
}

} // namespace

void WithFirewallPolicy(const std::function<void(INetFwPolicy2*)>& work)
{
    HRESULT initialised = S_OK;
    UniqueComApartment apartment = InitializeComApartment(&initialised);
    if (FAILED(initialised) && initialised != RPC_E_CHANGED_MODE) {
        return;
    }
    UniqueComPtr<INetFwPolicy2> policy;
    if (FAILED(::CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                  policy.put_void()))) {
        return;
    }
    work(policy.get());
}

HRESULT RemoveFirewallRules(INetFwPolicy2* policy, long* removed)
{
    long uncounted = 0;
    long& removedHere = removed != nullptr ? *removed : uncounted;
    removedHere = 0;
    if (policy == nullptr) {
        return E_POINTER;
    }
    UniqueComPtr<INetFwRules> rules;
    RETURN_IF_FAILED(policy->get_Rules(rules.put()));
    UniqueBstr name = MakeBstr(kFirewallRuleName);
    if (!name) {
        return E_OUTOFMEMORY;
    }
    // Gather first, then remove by name: no removal happens while an enumerator walks the collection.
    long previous = -1;
    for (int pass = 0; pass < kMaxRemovalPasses; ++pass) {
        long found = 0;
        RETURN_IF_FAILED(CountOrvelRules(rules.get(), &found));
        if (found == 0) {
            return S_OK;
        }
        if (previous >= 0 && found >= previous) {
            return E_FAIL;
        }
        previous = found;
        for (long i = 0; i < found; ++i) {
            RETURN_IF_FAILED(rules.get()->Remove(name.get()));
            ++removedHere;
        }
    }
    return E_FAIL;
}

HRESULT AddFirewallRule(INetFwPolicy2* policy, const wchar_t* appPath, bool inbound, bool restrictPublic, bool block,
                        const char* localPorts, const char* protocol)
{
    if (policy == nullptr || appPath == nullptr) {
        return E_POINTER;
    }
    UniqueBstr name = MakeBstr(kFirewallRuleName);
    UniqueBstr ports;
    if (localPorts != nullptr) {
        std::wstring widePorts;
        if (!WidePorts(localPorts, &widePorts)) {
            return E_INVALIDARG;
        }
        ports = MakeBstr(widePorts.c_str());
        if (!ports) {
            return E_OUTOFMEMORY;
        }
    }
    UniqueBstr grouping = MakeBstr(kFirewallRuleGrouping);
    UniqueBstr description = MakeBstr(kFirewallRuleDescription);
    UniqueBstr application = MakeBstr(appPath);
    if (!name || !grouping || !description || !application) {
        return E_OUTOFMEMORY;
    }

    const FirewallRuleProperties properties = RuleProperties(inbound, restrictPublic, block, protocol);

    UniqueComPtr<INetFwRules> rules;
    RETURN_IF_FAILED(policy->get_Rules(rules.put()));
    UniqueComPtr<INetFwRule> rule;
    RETURN_IF_FAILED(::CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                                        rule.put_void()));
    INetFwRule* r = rule.get();
    RETURN_IF_FAILED(r->put_Name(name.get()));
    RETURN_IF_FAILED(r->put_Grouping(grouping.get()));
    RETURN_IF_FAILED(r->put_Description(description.get()));
    RETURN_IF_FAILED(r->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(properties.direction)));
    RETURN_IF_FAILED(r->put_Action(static_cast<NET_FW_ACTION>(properties.action)));
    RETURN_IF_FAILED(r->put_ApplicationName(application.get()));
    if (properties.setProtocol) {
        RETURN_IF_FAILED(r->put_Protocol(properties.protocol));
    }
    // The firewall checks ports against the protocol, so the protocol is always set first.
    if (ports) {
        RETURN_IF_FAILED(r->put_LocalPorts(ports.get()));
    }
    RETURN_IF_FAILED(r->put_Profiles(properties.profiles));
    RETURN_IF_FAILED(r->put_Enabled(VARIANT_TRUE));
    if (properties.deferEdgeTraversal) {
        UniqueComPtr<INetFwRule2> rule2;
        if (SUCCEEDED(r->QueryInterface(__uuidof(INetFwRule2), rule2.put_void()))) {
            RETURN_IF_FAILED(rule2.get()->put_EdgeTraversalOptions(kFwEdgeTraversalDeferToApp));
        } else {
            RETURN_IF_FAILED(r->put_EdgeTraversal(VARIANT_TRUE));
        }
    }
    return rules.get()->Add(r);
}

long AddApplicationRules(const wchar_t* appPath, bool restrictPublic, const char* localPorts)
{
    long added = 0;
    if (appPath == nullptr || appPath[0] == L'\0') {
        return added;
    }
    WithFirewallPolicy([&](INetFwPolicy2* policy) {
        for (const FirewallRuleRequest& request : ApplicationRuleSet(restrictPublic)) {
            added += SUCCEEDED(AddFirewallRule(policy, appPath, request.inbound, request.restrictPublic, request.block,
                                               request.withPorts ? localPorts : nullptr, request.protocol))
                         ? 1
                         : 0;
        }
    });
    return added;
}

void CloseFirewallRules()
{
    long removed = 0;
    WithFirewallPolicy([&](INetFwPolicy2* policy) { RemoveFirewallRules(policy, &removed); });
    ReportToEventLog(FirewallClosedEvent(removed));
}

void OpenFirewallRules(bool restrictPublic, const char* localPorts)
{
    SharedState* service = SharedState::Get();
    if (service == nullptr || !FileExists(service->m_appPath.c_str())) {
        return;
    }
    WithFirewallPolicy([](INetFwPolicy2* policy) { RemoveFirewallRules(policy); });
    long added = AddApplicationRules(service->m_appPath.c_str(), restrictPublic, localPorts);
    if (FileExists(service->m_lockerPluginPath.c_str())) {
        added += AddApplicationRules(service->m_lockerPluginPath.c_str(), restrictPublic, localPorts);
    }
    ReportToEventLog(FirewallOpenedEvent(added, restrictPublic));
}
