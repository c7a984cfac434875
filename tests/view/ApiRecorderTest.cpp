// The recorder on its own: set sizes and numbers, and recordings bounded by a fake free space (the
// bytes written against a small budget), so that no disk is filled.
#include "TestEnvironment.h"
#include "view/Recorder.h"

#include <gtest/gtest.h>

#include <random>

namespace zeb::test {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using view::Recorder;

namespace {

// Writes an area-scan set of four 32 x 24 directions of noise (which PNG cannot shrink).
Recorder::Saved WriteNoise(Recorder& recorder) {
    host::Image image{32, 4 * 24, std::vector<uint8_t>(32 * 4 * 24)};
    std::mt19937 random(7);
    for (uint8_t& pixel : image.pixels)
        pixel = static_cast<uint8_t>(random());
    return recorder.Write(image, cli::ImageSetDescription{},
                          std::chrono::system_clock::time_point(std::chrono::hours(1)));
}

uintmax_t BytesIn(const std::filesystem::path& folder) {
    uintmax_t bytes = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        bytes += entry.file_size();
    return bytes;
}

// Free space as a disk of `budget` bytes holding the folder's files would show it.
Recorder::FreeSpace Budget(uintmax_t budget) {
    return [budget](const std::filesystem::path& folder) -> std::optional<uintmax_t> {
        const uintmax_t used = BytesIn(folder);
        return used >= budget ? 0 : budget - used;
    };
}

} // namespace

TEST(ApiRecorder, ASetIsBoundedByItsUncompressedFiles) {
    // 640 x 480 area scan: stack 4, average 1, contact sheet 4 direction images, and small headers.
    const uintmax_t direction = 640 * 480, area = Recorder::SetBytes(640, 480, false, false, false);
    EXPECT_GE(area, 9 * direction);
    EXPECT_LT(area, 9 * direction + 64 * 1024);
    // Line scan adds each direction; the surface its four pictures (16-bit normals in colour, ...).
    EXPECT_GE(Recorder::SetBytes(640, 480, true, false, false), 13 * direction);
    EXPECT_GE(Recorder::SetBytes(640, 480, false, false, true), area + 11 * direction);
    EXPECT_LT(Recorder::SetBytes(640, 480, false, true, false), 2 * direction); // the average alone
    EXPECT_LT(Recorder::SetBytes(0, 0, false, false, false), 64u * 1024);
}

TEST(ApiRecorder, ARecordingTheFolderCannotHoldIsRefusedAndTheOneUnderWayGoesOn) {
    TestEnvironment environment;
    Recorder recorder(environment.Folder() / "saved", Budget(1'000'000), 1000);
    // 100 sets of 10 kB fit in 1 MB less the margin; 100 of 10 kB more do not.
    EXPECT_EQ(recorder.Start(99, 0, false, {10'000, 0}), "");
    EXPECT_TRUE(recorder.Active());
    EXPECT_THAT(recorder.Start(100, 0, false, {10'000, 0}),
                AllOf(HasSubstr("recording 100 image sets needs about 1.0 MB"),
                      HasSubstr("has 1.0 MB free (1.0 kB are kept free)")));
    EXPECT_TRUE(recorder.Active()); // the one under way is untouched
    EXPECT_EQ(recorder.State().count, 99);
    // By time: the sets of the time at the rate now.
    EXPECT_THAT(recorder.Start(0, 86400, false, {10'000, 2}),
                HasSubstr("recording 86400 s at 2 image sets/s needs about 1.7 GB"));
    EXPECT_EQ(recorder.Start(0, 40, false, {10'000, 2}), "");
    EXPECT_EQ(recorder.State().seconds, 40);

    // Where the free space cannot be told, nothing is refused.
    Recorder unknown(environment.Folder() / "saved",
                     [](const std::filesystem::path&) { return std::nullopt; });
    EXPECT_EQ(unknown.Start(1000000, 0, false, {1'000'000'000, 0}), "");
    EXPECT_TRUE(unknown.Room({1'000'000'000, 0}));

    // A stopped channel's recording by time: the rate comes with its first image sets.
    Recorder byTime(environment.Folder() / "later", Budget(1'000'000), 0);
    ASSERT_EQ(byTime.Start(0, 3600, false, {10'000, 0}), "");
    EXPECT_TRUE(byTime.Room({10'000, 0})); // the first set: room for it, the rest not yet known
    EXPECT_FALSE(byTime.Room({10'000, 5}));
    EXPECT_FALSE(byTime.Active());
    EXPECT_THAT(byTime.State().ended, StartsWith("refused: the rest of the recording ("));
    // Once checked, a recording that fits is not checked as a whole again.
    ASSERT_EQ(byTime.Start(0, 10, false, {10'000, 0}), "");
    EXPECT_TRUE(byTime.Room({10'000, 5}));
    EXPECT_TRUE(byTime.Room({10'000, 5}));
}

TEST(ApiRecorder, ARecordingStopsBeforeTheDiskIsFullKeepingTheMarginAndSetsNumberAfterTheFolders) {
    TestEnvironment environment;
    const auto folder = environment.Folder() / "saved";
    const uintmax_t set = Recorder::SetBytes(32, 24, false, false, false), budget = 100 * set,
                    margin = 5 * set;
    Recorder recorder(folder, Budget(budget), margin);
    ASSERT_EQ(recorder.Start(30, 0, false, {set, 0}), "");
    ASSERT_TRUE(recorder.Room({set, 0}));
    const Recorder::Saved first = WriteNoise(recorder);
    recorder.Written(first);
    EXPECT_EQ(first.number, 1);
    const uintmax_t written = BytesIn(folder); // one set as it was really written
    EXPECT_LE(written, set);
    EXPECT_GT(written, 9u * 32 * 24 * 9 / 10); // noise barely compresses
    // Another writer leaves the margin and ten and a half sets free: ten are written, then it stops.
    TestEnvironment::WriteFile(folder / "other.bin",
                               std::string(budget - margin - written - 21 * written / 2, 'x'));
    int64_t more = 0;
    while (recorder.Room({set, 0})) {
        recorder.Written(WriteNoise(recorder));
        ASSERT_LT(++more, 100);
    }
    EXPECT_EQ(more, 10);
    EXPECT_FALSE(recorder.Active());
    EXPECT_EQ(recorder.State().written, 11);
    EXPECT_THAT(recorder.State().ended,
                StartsWith("stopped before the disk is full: the next image set needs about "));
    // The margin is still free, and every set it wrote is whole.
    EXPECT_GE(budget - BytesIn(folder), margin);
    EXPECT_EQ(recorder.State().lastFiles.size(), 3u);
    for (const auto& file : recorder.State().lastFiles)
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    // A set of another writer in the folder: the next one numbers after it.
    TestEnvironment::WriteFile(folder / "zeb-channel0-0020-stack.png", "x");
    const Recorder::Saved next = WriteNoise(recorder);
    EXPECT_EQ(next.number, 21);
    ASSERT_FALSE(next.files.empty());
    for (const auto& file : next.files)
        EXPECT_THAT(file.filename().string(), StartsWith("zeb-channel0-0021-"));
}

} // namespace zeb::test
