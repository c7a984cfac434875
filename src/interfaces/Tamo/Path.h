// Tamo::Path: Windows paths on every target. On Windows a path is used as it stands; on POSIX a
// drive path such as "C:\ProgramData\..." lives below the folder that stands for the drive,
// backslashes become slashes. Drive C: is ZEB_DRIVE_C, and any other drive X: is a drive_x folder
// beside it; without ZEB_DRIVE_C, every drive is a drive_x folder in the user's data folder.
#pragma once

#include "Tamo/String.h"

#include <filesystem>

namespace Tamo::Path {

std::filesystem::path Native(const String& path);
// The folder that stands for drive `letter` on POSIX (empty on Windows).
std::filesystem::path DriveFolder(char letter);

} // namespace Tamo::Path
