#include "link/FirewallRequest.h"

#include "link/CommandTable.h"
#include "link/JsonObject.h"

FirewallRequest ReadFirewallRequest(const char* message)
{
    FirewallRequest request;
    if (message == nullptr) {
        return request;
    }
    if (IsQuotedRequest(message)) {
        CJSonObject payload;
        if (payload.Parse(FirewallRequestJson(message).c_str())) {
            payload.Get("ports", request.localPorts);
        }
    }
    request.restrictPublic = FirewallRequestRestricted(message);
    return request;
}
