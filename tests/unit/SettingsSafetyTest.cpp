// The settings file survives a process killed while it writes, and an unchanged file is left alone.
#include "Tamo.h"
#include "TestEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#if !defined(_WIN32)
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

using zeb::test::TestEnvironment;

TEST(SettingsSafety, UnchangedFileIsNotRewritten) {
    TestEnvironment environment;
    const auto path = environment.Folder() / "Config.conf";
    TestEnvironment::WriteFile(path, "[Log]\nLogEnabled=False\nLogLevel=Debug\n");
    const auto before = std::filesystem::last_write_time(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Tamo::IniFile settings;
    settings.AddValue("Log", "LogEnabled", "False");
    settings.Load(path.string().c_str(), false);
    settings.Save("");
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

#if !defined(_WIN32)
TEST(SettingsSafety, KilledWritersNeverLeaveAHalfFile) {
    TestEnvironment environment;
    const auto path = environment.Folder() / "Config.conf";
    const std::string user = "; the user's own comment\n[Mine]\nKeep=1\n";
    int checked = 0;
    for (int round = 0; round < 40; ++round) {
        TestEnvironment::WriteFile(path, user);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Start-up writes, over and over, with ever more keys to add.
            for (int i = 0;; ++i) {
                Tamo::IniFile settings;
                for (int key = 0; key <= i % 200; ++key)
                    settings.AddValue("Section" + std::to_string(key % 7), "Key" + std::to_string(key),
                                      std::string(key % 50, 'v').c_str());
                settings.Load(path.string().c_str(), false);
                settings.Save("");
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + 700 * round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string text = TestEnvironment::ReadFile(path);
        ASSERT_THAT(text, ::testing::StartsWith(user)) << "round " << round;
        ASSERT_TRUE(text.empty() || text.back() == '\n') << "round " << round << ": a cut line";
        ++checked;
    }
    EXPECT_EQ(checked, 40);
}
#endif
