#pragma once

// The application's firewall rules, written through the firewall's COM interfaces. Every rule carries
// the name "Orvel"; the firewall itself is the record of them. Called on the pipe client thread; each
// entry point initialises COM there as a single-threaded apartment around its own work, so the thread
// holds no COM state between requests. Nothing here logs, and no failure goes back to the application.

#include <windows.h>
#include <netfw.h>

#include <functional>

// Removes every rule named "Orvel", then adds the rule set for the application's executable and, when
// it exists, for its plug-in executable. Does nothing at all when the application's executable does
// not exist. localPorts: the ports text in the ANSI code page, or null for every port.
void OpenFirewallRules(bool restrictPublic, const char* localPorts);

// Removes every rule named "Orvel" and reports how many went to the event log.
void CloseFirewallRules();

// Adds the rule set for one executable (null or empty: nothing). Each rule that fails is dropped alone.
// Returns how many rules were added.
long AddApplicationRules(const wchar_t* appPath, bool restrictPublic, const char* localPorts);

// Adds one rule. Returns the HRESULT of the first failing step (the rule is then not added), or of the
// last step. A ports text longer than 255 characters is refused (E_INVALIDARG) rather than cut.
HRESULT AddFirewallRule(INetFwPolicy2* policy, const wchar_t* appPath, bool inbound, bool restrictPublic, bool block,
                        const char* localPorts, const char* protocol);

// Removes every rule named exactly "Orvel" (same characters, same case), whatever the rule collection's
// enumerator makes of removals under it: names are gathered in a full pass first and the pass repeats
// until one finds none left. A rule whose name cannot be read is left alone and does not stop the
// removal. Returns S_OK when none is left, otherwise the failure that ended it. removed, when given,
// receives how many rules were removed.
HRESULT RemoveFirewallRules(INetFwPolicy2* policy, long* removed = nullptr);

// Runs work with a firewall policy object: COM initialised on this thread (an apartment of another
// mode is used as it is), NetFwPolicy2 created in-process. work does not run when either fails.
void WithFirewallPolicy(const std::function<void(INetFwPolicy2*)>& work);
