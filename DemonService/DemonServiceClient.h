#pragma once

// The pipe client: one record per client thread, and the interface through which an ending client
// reports back to the context.

#include <windows.h>

#include <atomic>
#include <cstddef>

// Implemented by the context: called on a short thread of its own when a client thread has ended.
class IClientExitCallback {
public:
    virtual void OnClientThreadExit() = 0;

protected:
    ~IClientExitCallback() = default;
};

// Capacity of the application path kept by a client (511 characters and the terminator).
constexpr std::size_t kClientPathChars = 512;

class CDemonServiceClient;
