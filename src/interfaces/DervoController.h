// Dervo::Morvane::Controller: the maker's controller-register library as the plug-in calls it.
#pragma once

#include "Tamo/ApiHandle.h"
#include "Tamo/Exception.h"
#include "Tamo/String.h"

namespace Dervo::Morvane {

class Controller : public Tamo::ApiHandle {
public:
    Controller() = default;
    Controller(const Controller&) = default;
    Controller& operator=(const Controller&) = default;
    ~Controller() = default;

    Tamo::ExitCode UpdatePeers();
    Tamo::ExitCode GetPeer(int32_t index, bool& present, Tamo::String& serial);
    Tamo::ExitCode Bind(int32_t index);
    Tamo::ExitCode Connect();
    Tamo::ExitCode SetUserEncoding(Tamo::StringEncoding encoding);
    Tamo::ExitCode SetPowerCycleDetection(bool on);
    Tamo::ExitCode SetCachingEnabled(bool on);
    Tamo::ExitCode LoadFactoryRegisterSet(const Tamo::String& setName);
    Tamo::ExitCode GetRegistersCount(int32_t& count);
    Tamo::ExitCode GetRegisterName(int32_t index, Tamo::String& name);
    Tamo::ExitCode GetRegisterValue(const Tamo::String& name, Tamo::String& value);
    Tamo::ExitCode SetRegisterValue(const Tamo::String& name, const Tamo::String& value);

private:
    int32_t _deviceId = -1;
    bool _connected = false;
    Tamo::StringEncoding _encoding = Tamo::StringEncoding::Ansi;
};

} // namespace Dervo::Morvane
