// The stand-in firewall's COM classes: NetFwPolicy2 (only its rule collection) and NetFwRule, served
// in-process. Rules live in the registry (RuleStore.h): every collection call reads the store afresh and
// writes each change back at once, so the service and the tests, in their own processes, share it.
//
// Where the firewall's documentation allows several readings, the strictest one is served:
//   - INetFwRules::Remove(name) removes the first rule of exactly that name, one per call, and succeeds
//     doing nothing when there is none;
//   - the enumerator walks a snapshot taken when it is made (unless the store's "LiveEnumerator" is 1);
//   - put_LocalPorts fails with E_INVALIDARG for a text the firewall does not accept, and for any text
//     while the protocol is not TCP or UDP;
//   - get_Name fails for a stored rule without a name.
// Members the service does not use answer E_NOTIMPL.

#include <windows.h>
#include <oleauto.h>
#include <netfw.h>

#include <atomic>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "PortsSyntax.h"
#include "RuleStore.h"
#include "base/Win32Resources.h"

namespace {

constexpr LONG kProtocolTcp = 6;
constexpr LONG kProtocolUdp = 17;
constexpr LONG kHighestProtocol = 256;
// NET_FW_EDGE_TRAVERSAL_TYPE (not in every SDK's headers): deny, allow, defer to app, defer to user.
constexpr LONG kEdgeTraversalDeny = 0;
constexpr LONG kEdgeTraversalAllow = 1;
constexpr LONG kEdgeTraversalDeferToUser = 3;

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// Reference counting and QueryInterface for one object with a list of interfaces: the object implements
// Interface and answers for it, for IUnknown and for each interface of Also, all of which Interface
// derives from (ComObject<INetFwRule2, INetFwRule, IDispatch>).
template <typename Interface, typename... Also>
class ComObject : public Interface {
    static_assert((std::is_base_of_v<Also, Interface> && ...), "an interface answered for is not implemented");

public:
    ComObject() noexcept { ++g_objects; }
    virtual ~ComObject() { --g_objects; }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const long left = --m_references;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(Interface) && !((iid == __uuidof(Also)) || ...)) {
            return E_NOINTERFACE;
        }
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }

private:
    std::atomic<long> m_references{1};
};

// No exception leaves a COM method: running out of memory answers E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

#define ORVEL_NO_DISPATCH                                                                                 \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override                                      \
    {                                                                                                     \
        if (count == nullptr) return E_POINTER;                                                           \
        *count = 0;                                                                                       \
        return S_OK;                                                                                      \
    }                                                                                                     \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }        \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override              \
    {                                                                                                     \
        return E_NOTIMPL;                                                                                 \
    }                                                                                                     \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) \
        noexcept override                                                                                          \
    {                                                                                                     \
        return E_NOTIMPL;                                                                                 \
    }

HRESULT CopyOut(const std::wstring& text, BSTR* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = ::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyIn(BSTR text, std::wstring* field) noexcept
{
    return Guarded([&] {
        *field = text != nullptr ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
        return S_OK;
    });
}

template <typename T, typename V>
HRESULT Out(T* out, V value)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = static_cast<T>(value);
    return S_OK;
}

// ---- NetFwRule -----------------------------------------------------------------------------------------

class Rule final : public ComObject<INetFwRule2, INetFwRule, IDispatch> {
public:
    Rule() = default;
    explicit Rule(StoredRule stored) : m_rule(std::move(stored)) {}

    const StoredRule& Stored() const { return m_rule; }

    ORVEL_NO_DISPATCH

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) noexcept override
    {
        return m_rule.hasName ? CopyOut(m_rule.name, name) : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR name) noexcept override
    {
        if (name == nullptr) {
            return E_INVALIDARG;
        }
        m_rule.hasName = true;
        return CopyIn(name, &m_rule.name);
    }
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* text) noexcept override
    {
        return CopyOut(m_rule.description, text);
    }
    HRESULT STDMETHODCALLTYPE put_Description(BSTR text) noexcept override { return CopyIn(text, &m_rule.description); }
    HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* path) noexcept override
    {
        return CopyOut(m_rule.applicationName, path);
    }
    HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR path) noexcept override
    {
        return CopyIn(path, &m_rule.applicationName);
    }
    HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Protocol(LONG* protocol) noexcept override { return Out(protocol, m_rule.protocol); }
    HRESULT STDMETHODCALLTYPE put_Protocol(LONG protocol) noexcept override
    {
        if (protocol < 0 || protocol > kHighestProtocol) {
            return E_INVALIDARG;
        }
        // Ports belong to TCP and UDP only.
        if (m_rule.hasLocalPorts && protocol != kProtocolTcp && protocol != kProtocolUdp) {
            return E_INVALIDARG;
        }
        m_rule.protocol = static_cast<DWORD>(protocol);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR* ports) noexcept override
    {
        if (ports == nullptr) {
            return E_POINTER;
        }
        if (!m_rule.hasLocalPorts) {
            *ports = nullptr;
            return S_OK;
        }
        return CopyOut(m_rule.localPorts, ports);
    }
    HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR ports) noexcept override
    {
        const LONG protocol = static_cast<LONG>(m_rule.protocol);
        if (protocol != kProtocolTcp && protocol != kProtocolUdp) {
            return E_INVALIDARG;
        }
        return Guarded([&] {
            std::wstring text;
            CopyIn(ports, &text);
            if (!LocalPortsAccepted(text)) {
                return E_INVALIDARG;
            }
            m_rule.localPorts = text;
            m_rule.hasLocalPorts = true;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_RemotePorts(BSTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalAddresses(BSTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IcmpTypesAndCodes(BSTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION* direction) noexcept override
    {
        return Out(direction, m_rule.direction);
    }
    HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION direction) noexcept override
    {
        if (direction != NET_FW_RULE_DIR_IN && direction != NET_FW_RULE_DIR_OUT) {
            return E_INVALIDARG;
        }
        m_rule.direction = static_cast<DWORD>(direction);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceTypes(BSTR*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) noexcept override
    {
        return Out(enabled, m_rule.enabled != 0 ? VARIANT_TRUE : VARIANT_FALSE);
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) noexcept override
    {
        m_rule.enabled = enabled != VARIANT_FALSE ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Grouping(BSTR* grouping) noexcept override
    {
        return CopyOut(m_rule.grouping, grouping);
    }
    HRESULT STDMETHODCALLTYPE put_Grouping(BSTR grouping) noexcept override
    {
        return CopyIn(grouping, &m_rule.grouping);
    }
    HRESULT STDMETHODCALLTYPE get_Profiles(LONG* profiles) noexcept override { return Out(profiles, m_rule.profiles); }
    HRESULT STDMETHODCALLTYPE put_Profiles(LONG profiles) noexcept override
    {
        m_rule.profiles = static_cast<DWORD>(profiles);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_EdgeTraversal(VARIANT_BOOL* enabled) noexcept override
    {
        return Out(enabled, m_rule.edgeTraversalOptions != 0 ? VARIANT_TRUE : VARIANT_FALSE);
    }
    HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL enabled) noexcept override
    {
        m_rule.edgeTraversalOptions = enabled != VARIANT_FALSE ? kEdgeTraversalAllow : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION* action) noexcept override { return Out(action, m_rule.action); }
    HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION action) noexcept override
    {
        if (action != NET_FW_ACTION_BLOCK && action != NET_FW_ACTION_ALLOW) {
            return E_INVALIDARG;
        }
        m_rule.action = static_cast<DWORD>(action);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_EdgeTraversalOptions(LONG* options) noexcept override
    {
        return Out(options, m_rule.edgeTraversalOptions);
    }
    HRESULT STDMETHODCALLTYPE put_EdgeTraversalOptions(LONG options) noexcept override
    {
        if (options < kEdgeTraversalDeny || options > kEdgeTraversalDeferToUser) {
            return E_INVALIDARG;
        }
        m_rule.edgeTraversalOptions = static_cast<DWORD>(options);
        return S_OK;
    }

private:
    StoredRule m_rule;
};

// Reads any rule object through its interfaces (one of ours, or another implementation's).
HRESULT ReadRule(INetFwRule* rule, StoredRule* stored)
{
    UniqueBstr text;
    if (FAILED(rule->get_Name(text.put())) || !text) {
        return E_INVALIDARG;
    }
    stored->hasName = true;
    CopyIn(text.get(), &stored->name);
    if (SUCCEEDED(rule->get_Grouping(text.put()))) {
        CopyIn(text.get(), &stored->grouping);
    }
    if (SUCCEEDED(rule->get_Description(text.put()))) {
        CopyIn(text.get(), &stored->description);
    }
    if (SUCCEEDED(rule->get_ApplicationName(text.put()))) {
        CopyIn(text.get(), &stored->applicationName);
    }
    if (SUCCEEDED(rule->get_LocalPorts(text.put())) && text) {
        stored->hasLocalPorts = true;
        CopyIn(text.get(), &stored->localPorts);
    }
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
    LONG protocol = 0;
    LONG profiles = 0;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(rule->get_Direction(&direction)) || FAILED(rule->get_Action(&action)) ||
        FAILED(rule->get_Protocol(&protocol)) || FAILED(rule->get_Profiles(&profiles)) ||
        FAILED(rule->get_Enabled(&enabled))) {
        return E_INVALIDARG;
    }
    stored->direction = static_cast<DWORD>(direction);
    stored->action = static_cast<DWORD>(action);
    stored->protocol = static_cast<DWORD>(protocol);
    stored->profiles = static_cast<DWORD>(profiles);
    stored->enabled = enabled != VARIANT_FALSE ? 1 : 0;
    UniqueComPtr<INetFwRule2> rule2;
    LONG options = 0;
    VARIANT_BOOL edge = VARIANT_FALSE;
    if (SUCCEEDED(rule->QueryInterface(__uuidof(INetFwRule2), rule2.put_void())) &&
        SUCCEEDED(rule2.get()->get_EdgeTraversalOptions(&options))) {
        stored->edgeTraversalOptions = static_cast<DWORD>(options);
    } else if (SUCCEEDED(rule->get_EdgeTraversal(&edge))) {
        stored->edgeTraversalOptions = edge != VARIANT_FALSE ? kEdgeTraversalAllow : 0;
    }
    return S_OK;
}

// ---- The enumerator ------------------------------------------------------------------------------------

class RuleEnumerator final : public ComObject<IEnumVARIANT> {
public:
    RuleEnumerator(std::vector<StoredRule> snapshot, bool live, ULONG position)
        : m_snapshot(std::move(snapshot)), m_live(live), m_position(position)
    {
    }


    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* elements, ULONG* fetched) noexcept override
    {
        if (elements == nullptr || (count > 1 && fetched == nullptr)) {
            return E_POINTER;
        }
        if (fetched != nullptr) {
            *fetched = 0;
        }
        return Guarded([&] {
            const std::vector<StoredRule> rules = m_live ? LoadRules() : m_snapshot;
            ULONG given = 0;
            for (; given < count && m_position < rules.size(); ++given, ++m_position) {
                ::VariantInit(&elements[given]);
                elements[given].pdispVal = static_cast<INetFwRule2*>(new Rule(rules[m_position]));
                elements[given].vt = VT_DISPATCH;
                if (fetched != nullptr) {
                    *fetched = given + 1;
                }
            }
            return given == count ? S_OK : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) noexcept override
    {
        m_position += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() noexcept override
    {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) noexcept override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        return Guarded([&] {
            *out = new RuleEnumerator(m_snapshot, m_live, m_position);
            return S_OK;
        });
    }

private:
    std::vector<StoredRule> m_snapshot;
    bool m_live;
    ULONG m_position;
};

// ---- INetFwRules ---------------------------------------------------------------------------------------

class Rules final : public ComObject<INetFwRules, IDispatch> {
public:
    ORVEL_NO_DISPATCH

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) noexcept override
    {
        return Guarded([&] { return Out(count, LoadRules().size()); });
    }
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) noexcept override
    {
        if (rule == nullptr) {
            return E_POINTER;
        }
        return Guarded([&] {
            StoredRule stored;
            const HRESULT hr = ReadRule(rule, &stored);
            return FAILED(hr) ? hr : AppendRule(stored);
        });
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) noexcept override
    {
        if (name == nullptr) {
            return E_INVALIDARG;
        }
        return Guarded([&] {
            const std::wstring wanted(name, ::SysStringLen(name));
            for (const StoredRule& rule : LoadRules()) {
                if (rule.hasName && rule.name == wanted) {
                    return DeleteRule(rule.key);
                }
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) noexcept override
    {
        if (name == nullptr || rule == nullptr) {
            return E_POINTER;
        }
        *rule = nullptr;
        return Guarded([&] {
            const std::wstring wanted(name, ::SysStringLen(name));
            for (const StoredRule& stored : LoadRules()) {
                if (stored.hasName && stored.name == wanted) {
                    *rule = new Rule(stored);
                    return S_OK;
                }
            }
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        });
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) noexcept override
    {
        if (enumerator == nullptr) {
            return E_POINTER;
        }
        *enumerator = nullptr;
        return Guarded([&] {
            *enumerator = static_cast<IEnumVARIANT*>(new RuleEnumerator(LoadRules(), LiveEnumerator(), 0));
            return S_OK;
        });
    }
};

// ---- NetFwPolicy2: only the rule collection ------------------------------------------------------------

class Policy final : public ComObject<INetFwPolicy2, IDispatch> {
public:
    ORVEL_NO_DISPATCH

    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) noexcept override
    {
        if (rules == nullptr) {
            return E_POINTER;
        }
        *rules = nullptr;
        return Guarded([&] {
            *rules = new Rules();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                                              VARIANT_BOOL*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                                              VARIANT_BOOL) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ServiceRestriction(INetFwServiceRestriction**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*) noexcept override { return E_NOTIMPL; }
};

// ---- Class factory -------------------------------------------------------------------------------------

template <typename Object>
class Factory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        // The new object's own reference goes when the owner does; the caller keeps the one it asked for.
        return Guarded([&] {
            const UniqueComPtr<Object> object(new Object());
            return object.get()->QueryInterface(iid, out);
        });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

} // namespace

extern "C" HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return Guarded([&] {
        UniqueComPtr<IClassFactory> factory;
        if (clsid == __uuidof(NetFwPolicy2)) {
            factory.reset(new Factory<Policy>());
        } else if (clsid == __uuidof(NetFwRule)) {
            factory.reset(new Factory<Rule>());
        } else {
            return CLASS_E_CLASSNOTAVAILABLE;
        }
        return factory.get()->QueryInterface(iid, out);
    });
}

extern "C" HRESULT STDMETHODCALLTYPE DllCanUnloadNow() noexcept
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
