// The controller-register library, backed by the simulated station.
#include "DervoController.h"

#include "Station.h"

namespace Dervo::Morvane {

namespace {

using zeb::station::Outcome;
using zeb::station::Station;

std::string Function(const char* operation) {
    return std::string("Dervo::Morvane::Controller::") + operation;
}

} // namespace

Tamo::ExitCode Controller::UpdatePeers() {
    return 0;
}

Tamo::ExitCode Controller::GetPeer(int32_t index, bool& present, Tamo::String& serial) {
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    for (const auto& [id, peerSerial] : station.Peers())
        if (id == index) {
            present = true;
            serial = peerSerial;
            return 0;
        }
    present = false;
    return 0;
}

Tamo::ExitCode Controller::Bind(int32_t index) {
    _deviceId = index;
    _connected = false;
    return 0;
}

Tamo::ExitCode Controller::Connect() {
    if (_deviceId < 0)
        return Fail(Function("Connect"), "The controller object is not bound to a device.");
    Station& station = Station::Instance();
    Outcome outcome;
    {
        std::lock_guard lock(station.Mutex());
        outcome = station.Connect(_deviceId);
    }
    if (!outcome.Ok())
        return Fail(Function("Connect"), outcome.error);
    _connected = true;
    return 0;
}

Tamo::ExitCode Controller::SetUserEncoding(Tamo::StringEncoding encoding) {
    _encoding = encoding;
    return 0;
}

Tamo::ExitCode Controller::SetPowerCycleDetection(bool) {
    return 0;
}

Tamo::ExitCode Controller::SetCachingEnabled(bool) {
    return 0;
}

Tamo::ExitCode Controller::LoadFactoryRegisterSet(const Tamo::String& setName) {
    if (setName.Length() > 0)
        return Fail(Function("LoadFactoryRegisterSet"), "Register set " + setName + " does not exist.");
    Station& station = Station::Instance();
    Outcome outcome;
    {
        std::lock_guard lock(station.Mutex());
        outcome = station.LoadFactory(_deviceId);
    }
    return outcome.Ok() ? 0 : Fail(Function("LoadFactoryRegisterSet"), outcome.error);
}

Tamo::ExitCode Controller::GetRegistersCount(int32_t& count) {
    Station& station = Station::Instance();
    Outcome outcome;
    {
        std::lock_guard lock(station.Mutex());
        outcome = station.RegisterCount(_deviceId, count);
    }
    return outcome.Ok() ? 0 : Fail(Function("GetRegistersCount"), outcome.error);
}

Tamo::ExitCode Controller::GetRegisterName(int32_t index, Tamo::String& name) {
    Station& station = Station::Instance();
    Outcome outcome;
    std::string text;
    {
        std::lock_guard lock(station.Mutex());
        outcome = station.RegisterName(_deviceId, index, text);
    }
    if (!outcome.Ok())
        return Fail(Function("GetRegisterName"), outcome.error);
    name = text;
    return 0;
}

Tamo::ExitCode Controller::GetRegisterValue(const Tamo::String& name, Tamo::String& value) {
    Station& station = Station::Instance();
    Outcome outcome;
    std::string text;
    {
        std::lock_guard lock(station.Mutex());
        outcome = station.GetRegister(_deviceId, name.Std(), text);
    }
    if (!outcome.Ok())
        return Fail(Function("GetRegisterValue"), outcome.error);
    value = text;
    return 0;
}

Tamo::ExitCode Controller::SetRegisterValue(const Tamo::String& name, const Tamo::String& value) {
    Station& station = Station::Instance();
    Outcome outcome;
    {
        std::lock_guard lock(station.Mutex());
        outcome = station.SetRegister(_deviceId, name.Std(), value.Std());
    }
    return outcome.Ok() ? 0 : Fail(Function("SetRegisterValue"), outcome.error);
}

} // namespace Dervo::Morvane
