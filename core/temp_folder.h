// Temporary folders "Drovemark_<n>" in the user's temporary directory, for Amiga files that must
// exist on the PC disk while a PC program opens them.
#pragma once

#include <string>

namespace dm {

bool CreateTempFolder(std::string& path);

// Deletes the temporary folder that holds `filePath`, with everything in it; does nothing when
// the file does not lie directly in a "Drovemark_" folder.
void RemoveTempFolderOf(const std::string& filePath);

}  // namespace dm
