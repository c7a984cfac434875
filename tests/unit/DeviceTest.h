// Fixture of the unit tests that drive the plug-in's device classes against a station: a private
// environment with the station and a Dump-level log, controller 0 and a camera of the station.
#pragma once

#include "Controller.h"
#include "Stations.h"
#include "Tamo.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>

namespace zeb::test {

class DeviceTest : public ::testing::Test {
public:
    // Starts the plug-in's log at level Dump in the environment's log file.
    static void StartLog(const TestEnvironment& environment) {
        Tamo::Log::Initialize();
        Tamo::Log::SetLogLevel(Tamo::Dump);
        Tamo::Log::SetLogPath(environment.LogFile().string().c_str());
    }

protected:
    // Writes the station and starts the log.
    void UseStation(const Json& station) {
        environment.UseStation(station.dump());
        StartLog(environment);
    }
    void OpenController() {
        controller.Bind(0);
        controller.Open();
    }
    void OpenCamera(const std::string& name) {
        Tamo::Acquisition::Main::Instance().Load("Tamo.Acquisition.Pleora");
        Tamo::Acquisition::Main::Instance().Load("Tamo.Acquisition.MicroEnable");
        camera.SetOwner("test");
        camera.Bind(name.c_str());
        camera.Open();
    }

    TestEnvironment environment;
    Tamo::Morvane::Zeb::Controller controller;
    Tamo::Acquisition::ImageSource camera;
};

} // namespace zeb::test
