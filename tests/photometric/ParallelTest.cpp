// The library's loops spread over the cores: every item once, a failure carried to the caller, and
// surfaces with heights (whose light levels and tables the threads make as they need them) the same
// on every solve. Run under ThreadSanitizer too.
#include "Parallel.h"
#include "StationShots.h"
#include "SurfaceSolver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace zeb::photometric::test {

TEST(PhotometricConcurrency, EveryItemOnceAndTheFirstFailureThrown) {
    for (const auto& [count, chunk] :
         std::vector<std::pair<size_t, size_t>>{{0, 4}, {1, 4}, {7, 0}, {64, 8}, {65, 8}, {1000, 3}}) {
        std::vector<std::atomic<int>> seen(count);
        ParallelFor(count, chunk, [&](size_t begin, size_t end) {
            EXPECT_LE(end - begin, std::max<size_t>(chunk, 1));
            for (size_t i = begin; i < end; ++i)
                ++seen[i];
        });
        for (size_t i = 0; i < count; ++i)
            EXPECT_EQ(seen[i], 1) << count << " items in chunks of " << chunk << ": item " << i;
    }
    // Whichever thread meets it, the failure reaches the caller with its own message.
    try {
        ParallelFor(10000, 1, [](size_t begin, size_t) {
            if (begin == 10)
                throw std::runtime_error("item 10");
        });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "item 10");
    }
}

TEST(PhotometricConcurrency, HeightsSolvedOnSeveralThreadsAreTheSameEverySolve) {
    const ShotSet shot = AreaShot("sphere", 160, 128);
    SurfaceOptions options;
    options.recoverHeight = true;
    options.heightRounds = 4;
    const auto solve = [&] {
        return SurfaceSolver(NominalModel(AreaNominal(160, 128)), {}, options).Solve(shot.View());
    };
    const Surface first = solve(), second = solve();
    ASSERT_TRUE(first.HasHeights());
    ASSERT_EQ(first.heightMap.size(), second.heightMap.size());
    const auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
        return std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
    };
    EXPECT_TRUE(same(first.heightMap, second.heightMap));
    EXPECT_TRUE(same(first.normalX, second.normalX) && same(first.normalY, second.normalY));
    EXPECT_TRUE(same(first.albedo, second.albedo));
    EXPECT_EQ(first.status, second.status);
}

} // namespace zeb::photometric::test
