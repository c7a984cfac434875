// The maker's base framework `Tamo` as the plug-in uses it.
#pragma once

#include "Tamo/ApiHandle.h"
#include "Tamo/Exception.h"
#include "Tamo/IniFile.h"
#include "Tamo/Log.h"
#include "Tamo/Mutex.h"
#include "Tamo/Object.h"
#include "Tamo/Path.h"
#include "Tamo/String.h"
