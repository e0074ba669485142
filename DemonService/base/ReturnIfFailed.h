#pragma once

// One line per call in a chain of COM calls: the first failed HRESULT is what the enclosing function
// returns, and the calls after it are not made.
#define RETURN_IF_FAILED(call)                  \
    do {                                        \
        const HRESULT orvelCallResult_ = (call); \
        if (FAILED(orvelCallResult_)) {         \
            return orvelCallResult_;            \
        }                                       \
    } while (false)
