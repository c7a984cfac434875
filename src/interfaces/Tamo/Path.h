// Tamo::Path: Windows paths on every target. On Windows a path is used as it stands; on POSIX a
// drive path such as "C:\ProgramData\..." lives below the folder that stands for the drive
// (ZEB_DRIVE_C for C:, else a drive_c folder in the user's data folder), backslashes become slashes.
#pragma once

#include "Tamo/String.h"

#include <filesystem>

namespace Tamo::Path {

std::filesystem::path Native(const String& path);
// The folder that stands for drive `letter` on POSIX (empty on Windows).
std::filesystem::path DriveFolder(char letter);

} // namespace Tamo::Path
