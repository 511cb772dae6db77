// The module whose resources hold our strings, dialogs and icons: the DLL inside Explorer, the
// executable in tests and tools.
#pragma once

#include "core/platform.h"

namespace dm {

HMODULE ThisModule();

}  // namespace dm
