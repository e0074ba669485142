#pragma once

// The stand-in's kernel handles are held by the project's one ownership template (header only, so the
// stand-in still links nothing of the service): null and INVALID_HANDLE_VALUE both mean "none".

#include "base/Win32Resources.h"

using OwnedHandle = UniqueHandle;
