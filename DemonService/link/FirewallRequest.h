#pragma once

// What an "OpenFireWall" request asks for: the restricted flag and the ports text.

#include <string>

struct FirewallRequest {
    bool restrictPublic = false;
    std::string localPorts;  // empty: no ports text (the rules cover every port)
};

// Reads a message that matched the open command. Restricted: ":1" occurs anywhere in the raw text. A
// quoted request is the members of a JSON object without its braces; its "ports" member (name compared
// ignoring case, first match), when it is a string, is the ports text. A payload that does not parse
// or has no such string gives no ports text. Null reads as an unrestricted request without ports.
FirewallRequest ReadFirewallRequest(const char* message);
