// Tamo::Exception: the one exception type the system throws: an error text and a source name.
#pragma once

#include "Tamo/String.h"

namespace Tamo {

class Exception {
public:
    Exception(String error, String function) : _error(std::move(error)), _function(std::move(function)) {}

    const String& Error() const { return _error; }
    const String& Function() const { return _function; }

private:
    String _error;
    String _function;
};

// Result code of every device-library operation: 0 is success.
using ExitCode = int32_t;

enum class StringEncoding : int32_t { Ansi = 0, Utf8 = 1 };

} // namespace Tamo
