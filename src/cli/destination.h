// Checks of the destination and temporary folders before a run.
#pragma once

#include <filesystem>

#include "cli/source.h"

namespace kestrella::cli {

// Creates DEST if needed and makes sure files can be written there, and that
// neither DEST nor the temporary folder would overwrite the source. `force`
// allows a folder on the device being recovered. Throws CliError.
void PrepareFolders(const std::filesystem::path& dest, const std::filesystem::path& temp,
                    const OpenedSource& source, bool force);

}  // namespace kestrella::cli
