// Tamo::ApiHandle: base of the device-library objects, with their error-reporting switches.
#pragma once

#include "Tamo/Exception.h"

namespace Tamo {

class ApiHandle {
public:
    void SetThrowOnError(bool on) { _throwOnError = on; }
    void SetPrintErrors(bool on) { _printErrors = on; }
    void SetLogErrors(bool on) { _logErrors = on; }
    bool ThrowOnError() const { return _throwOnError; }
    bool PrintErrors() const { return _printErrors; }
    bool LogErrors() const { return _logErrors; }

protected:
    // Reports a failed operation by the switches: logs, prints, then throws or returns a non-zero
    // result code.
    ExitCode Fail(const String& function, const String& error) const;

private:
    bool _throwOnError = false;
    bool _printErrors = true;
    bool _logErrors = true;
};

} // namespace Tamo
