// The wiring of the layers above the folder into it: the view, the data object, the clipboard
// commands and the cut set. The DLL calls this when it loads; test programs that need the whole
// folder call it too.
#pragma once

namespace dm {

void RegisterUiObjects();

}  // namespace dm
