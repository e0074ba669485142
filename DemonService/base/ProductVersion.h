#pragma once

// The version of this build of the service, as its events and its status report name it.

constexpr wchar_t kProductVersion[] = L"1.0.0";
