#include "Tamo/ApiHandle.h"

#include "Tamo/Log.h"

#include <cstdio>

namespace Tamo {

ExitCode ApiHandle::Fail(const String& function, const String& error) const {
    if (_logErrors)
        Log::Write(LogLevel::Error, function + ": " + error, 0, function, "ApiHandle");
    if (_printErrors)
        std::fprintf(stderr, "%s: %s\n", function.CStr(), error.CStr());
    if (_throwOnError)
        throw Exception(error, function);
    return 1;
}

} // namespace Tamo
