// The viewer's pieces on their own: request targets, pages and what they own, previews, feature
// groups, and the forms of an image set with their grey statistics.
#include "FeatureNames.h"
#include "session/FeatureGuide.h"
#include "view/ClientRegistry.h"
#include "view/FeatureGroups.h"
#include "view/LiveImageSet.h"
#include "view/http/RequestReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace zeb::test {

using ::testing::HasSubstr;
using view::ClientRegistry;
using view::Ownership;

TEST(ViewParts, TargetsAreDecodedAndMalformedOnesRefused) {
    using Query = std::map<std::string, std::string>;
    std::string path;
    Query query;
    // '+' is a blank in a query only; an empty pair is skipped, a name without '=' kept.
    for (const auto& [target, decoded, pairs] : std::vector<std::tuple<std::string, std::string, Query>>{
             {"/api/channels/0/features/Exposure%54ime?form=direction2&scale=4",
              "/api/channels/0/features/ExposureTime",
              {{"form", "direction2"}, {"scale", "4"}}},
             {"/a+b?x=1+2&&flag&y=%2B", "/a+b", {{"x", "1 2"}, {"flag", ""}, {"y", "+"}}}}) {
        ASSERT_TRUE(view::ParseTarget(target, path, query)) << target;
        EXPECT_EQ(path, decoded);
        EXPECT_EQ(query, pairs);
    }
    for (const char* bad :
         {"", "api/channels", "http://example.com/", "/%", "/%4", "/%zz", "/a%00b", "/?x=%0", "/?x=%00", "*"})
        EXPECT_FALSE(view::ParseTarget(bad, path, query)) << bad;
}

TEST(ViewParts, PagesAreAliveWithinTheTimeoutUpToACapacityAndIdsArePlainWords) {
    ClientRegistry::Clock::time_point now{};
    ClientRegistry clients(std::chrono::seconds(10), [&] { return now; });
    EXPECT_FALSE(clients.Alive("a"));
    clients.Touch("a");
    now += std::chrono::seconds(10);
    EXPECT_TRUE(clients.Alive("a")); // exactly the timeout: still there
    now += std::chrono::milliseconds(1);
    EXPECT_FALSE(clients.Alive("a"));
    clients.Touch("a");
    EXPECT_TRUE(clients.Alive("a"));
    clients.Touch("b");
    EXPECT_EQ(clients.AliveCount(), 2u);
    clients.Close("a");
    EXPECT_FALSE(clients.Alive("a"));
    EXPECT_EQ(clients.AliveCount(), 1u);
    // A page with a request under way is alive however long it takes (a slow start, a long poll),
    // its timeout counting from the request's end; a goodbye meanwhile is final.
    clients.Begin("slow");
    clients.Begin("slow");
    now += std::chrono::seconds(30);
    EXPECT_TRUE(clients.Alive("slow"));
    EXPECT_FALSE(clients.Alive("b"));
    EXPECT_EQ(clients.AliveCount(), 1u);
    clients.End("slow");
    now += std::chrono::seconds(30);
    EXPECT_TRUE(clients.Alive("slow")) << "one of its requests is still under way";
    clients.End("slow");
    now += std::chrono::seconds(10);
    EXPECT_TRUE(clients.Alive("slow"));
    now += std::chrono::milliseconds(1);
    EXPECT_FALSE(clients.Alive("slow"));
    clients.Begin("slow");
    clients.Close("slow");
    EXPECT_FALSE(clients.Alive("slow"));
    clients.End("slow");
    EXPECT_FALSE(clients.Alive("slow"));
    EXPECT_EQ(clients.AliveCount(), 0u);

    // Thousands of ids that come and go do not pile up, and live ones stay.
    for (int i = 0; i < 5000; ++i) {
        now += std::chrono::seconds(1);
        clients.Touch("page" + std::to_string(i));
    }
    EXPECT_TRUE(clients.Alive("page4999"));
    EXPECT_EQ(clients.AliveCount(), 11u);
    // Held up to a capacity, where no live page makes room.
    constexpr size_t Capacity = ClientRegistry::Capacity;
    now += std::chrono::seconds(11);
    ASSERT_TRUE(clients.Touch("first"));
    for (size_t i = 1; i < Capacity; ++i)
        ASSERT_TRUE(clients.Touch("page" + std::to_string(i))) << i;
    // Full of live pages: a new id is refused, a known one is heard as before.
    EXPECT_FALSE(clients.Touch("one-more"));
    EXPECT_FALSE(clients.Alive("one-more"));
    EXPECT_TRUE(clients.Touch("first"));
    EXPECT_EQ(clients.AliveCount(), Capacity);
    // A goodbye makes room at once.
    clients.Close("page1");
    EXPECT_TRUE(clients.Touch("one-more"));
    // Once the others are gone, thousands of new ids take their places; the page heard of stays.
    now += std::chrono::seconds(6);
    EXPECT_TRUE(clients.Touch("first"));
    now += std::chrono::seconds(6);
    for (size_t i = 0; i + 1 < Capacity; ++i)
        ASSERT_TRUE(clients.Touch("new" + std::to_string(i))) << i;
    EXPECT_TRUE(clients.Alive("first"));
    EXPECT_FALSE(clients.Alive("page2"));
    EXPECT_EQ(clients.AliveCount(), Capacity);
    EXPECT_FALSE(clients.Touch("again-one-more"));
    // Ids are short plain words.
    for (const std::string& id : std::vector<std::string>{"a", "0f3A-b_9", std::string(64, 'x')})
        EXPECT_TRUE(ClientRegistry::ValidId(id)) << id;
    for (const std::string& bad :
         std::vector<std::string>{"", std::string(65, 'x'), "a b", "a/b", "a\nb", "ä", "a;b", "a.b"})
        EXPECT_FALSE(ClientRegistry::ValidId(bad)) << bad;
}

TEST(ViewParts, WhatOnlyGonePagesStartedIsAbandoned) {
    ClientRegistry::Clock::time_point now{};
    ClientRegistry clients(std::chrono::seconds(5), [&] { return now; });
    clients.Touch("a");
    clients.Touch("b");
    Ownership owners;
    EXPECT_TRUE(owners.Abandoned(clients)); // nobody started anything

    owners.Reset("a");
    owners.Join("b");
    EXPECT_FALSE(owners.Abandoned(clients));
    clients.Close("a");
    EXPECT_FALSE(owners.Abandoned(clients)); // b still wants it
    now += std::chrono::seconds(6);
    EXPECT_TRUE(owners.Abandoned(clients)); // b went quiet

    // Started without a page id (a script): kept whatever pages do, until a fresh start by a page.
    owners.Join("");
    EXPECT_TRUE(owners.Kept());
    EXPECT_FALSE(owners.Abandoned(clients));
    owners.Reset("a");
    EXPECT_FALSE(owners.Kept());
    EXPECT_TRUE(owners.Abandoned(clients));
    owners.Clear();
    EXPECT_EQ(owners.Pages(), 0u);
}

TEST(ViewParts, PreviewsKeepSaturationAndCoverPartialBlocks) {
    const host::Image image{5, 3, {10, 20, 30, 40, 255, 30, 40, 50, 60, 0, 7, 7, 9, 9, 100}}; // 3 rows of 5
    const host::Image half = view::Shrink(image, 2);
    EXPECT_EQ(std::tie(half.width, half.height, half.pixels),
              std::make_tuple(3, 2, std::vector<uint8_t>{25, 45, 255, 7, 9, 100}));
    EXPECT_EQ(view::Shrink(image, 1).pixels, image.pixels);
    // A block averaging near white without a saturated pixel stays below saturation.
    EXPECT_EQ(view::Shrink(host::Image{2, 1, {254, 254}}, 2).pixels, std::vector<uint8_t>{254});
    const host::Image whole = view::Shrink(image, 16);
    EXPECT_EQ(std::tie(whole.width, whole.height, whole.pixels),
              std::make_tuple(1, 1, std::vector<uint8_t>{255}));
}

TEST(ViewParts, EveryFeatureHasAGroupAPersonKnowsAndDirectionsTheSideTheyAreLitFrom) {
    const auto& order = view::FeatureGroupOrder();
    for (const char* name : FeatureNames) {
        const std::string group = view::FeatureGroup(name);
        EXPECT_NE(group, "Other") << name;
        EXPECT_NE(std::find(order.begin(), order.end(), group), order.end()) << name;
    }
    // A feature of another plug-in version is still grouped ("Other") and explained, without a unit.
    for (const auto& [name, group] :
         std::map<std::string, std::string>{{"DeviceImageSourceDetect", "Device and camera"},
                                            {"SetupMode", "Image format"},
                                            {"ExposureTime", "Acquisition"},
                                            {"LightingOrientation", "Lighting"},
                                            {"DialogAcquisitionRequest", "Assistants"},
                                            {"GevSCPD", "Transport"},
                                            {"SomethingNew", "Other"}})
        EXPECT_EQ(view::FeatureGroup(name), group) << name;
    EXPECT_FALSE(cli::GuideFor("SomethingNew").meaning.empty());
    EXPECT_EQ(cli::GuideFor("SomethingNew").unit, "");
    EXPECT_THAT(cli::FeatureGuideText(), HasSubstr("  ExposureTime [us]: "));
    // Directions are labelled with the side they are lit from.
    EXPECT_EQ(view::LitFromSides("Axial"), (std::vector<std::string>{"right", "top", "left", "bottom"}));
    EXPECT_EQ(view::LitFromSides("Diagonal"),
              (std::vector<std::string>{"top right", "top left", "bottom left", "bottom right"}));
    EXPECT_TRUE(view::LitFromSides("").empty());
    EXPECT_TRUE(view::LitFromSides("Spiral").empty());
}

namespace {
// Four 3 x 2 directions whose pixels tell direction, row and column apart.
host::Image Stack(bool lineScan) {
    host::Image stack{3, 8, std::vector<uint8_t>(24)};
    for (int k = 0; k < 4; ++k)
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column) {
                const int at = lineScan ? (4 * row + k) : (k * 2 + row);
                stack.pixels[static_cast<size_t>(at * 3 + column)] =
                    static_cast<uint8_t>(100 * (k % 2) + 40 * k + 10 * row + column);
            }
    return stack;
}

cli::ImageSetDescription Description(bool lineScan, const std::string& setupMode = "Off") {
    cli::ImageSetDescription description;
    description.scanType = lineScan ? "Linescan" : "Areascan";
    description.setupMode = setupMode;
    description.lightingSequence = "Axial";
    return description;
}
} // namespace

// Each direction is measured on its own, so that one clipping shows.
TEST(ViewParts, AnImageSetOffersItsFormsAndEachDirectionsStatisticsForBothScanTypes) {
    for (const bool lineScan : {false, true}) {
        host::Image stack = Stack(lineScan);
        const view::LiveImageSet set(7, stack, Description(lineScan), {});
        EXPECT_EQ(std::tuple(set.Forms().size(), set.DirectionWidth(), set.DirectionHeight()),
                  std::tuple(6u, 3, 2));
        for (int k = 0; k < 4; ++k) {
            const auto direction = set.Form("direction" + std::to_string(k));
            ASSERT_TRUE(direction.has_value());
            ASSERT_EQ(direction->height, 2);
            EXPECT_EQ(direction->pixels[4], 100 * (k % 2) + 40 * k + 10 + 1) << "direction " << k;
        }
        ASSERT_TRUE(set.Form("average") && set.Form("stack"));
        EXPECT_EQ(set.Form("average")->pixels[0], (0 + 140 + 80 + 220) / 4);
        EXPECT_EQ(set.Form("stack")->pixels, stack.pixels);
        EXPECT_FALSE(set.Form("direction4").has_value());
        // A form's PNG is made once for every page that asks for it at that scale.
        const auto png = set.Png("average", 1);
        ASSERT_NE(png, nullptr);
        EXPECT_EQ(png->substr(1, 3), "PNG");
        EXPECT_EQ(set.Png("average", 1), png);
        EXPECT_NE(set.Png("average", 2), png);
        EXPECT_EQ(set.Png("direction4", 1), nullptr);

        // Direction 2 clips entirely, whichever rows it has in the delivered image.
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column)
                stack.pixels[static_cast<size_t>((lineScan ? 4 * row + 2 : 4 + row) * 3 + column)] = 255;
        const view::LiveImageSet clipping(1, stack, Description(lineScan), {});
        const auto& directions = clipping.DirectionStatistics();
        ASSERT_EQ(directions.size(), 4u);
        for (int k = 0; k < 4; ++k) {
            const auto& facts = directions[static_cast<size_t>(k)];
            EXPECT_EQ(std::accumulate(facts.histogram.begin(), facts.histogram.end(), uint64_t{0}), 6u) << k;
            EXPECT_DOUBLE_EQ(facts.saturatedPercent, k == 2 ? 100.0 : 0.0) << k;
        }
        EXPECT_DOUBLE_EQ(directions[0].mean, (0 + 1 + 2 + 10 + 11 + 12) / 6.0);
        EXPECT_DOUBLE_EQ(directions[0].darkPercent, 50.0); // 0, 1 and 2; 10 is not dark
        // The whole set hides it as a quarter.
        EXPECT_DOUBLE_EQ(clipping.Statistics().saturatedPercent, 25.0);
    }
    EXPECT_DOUBLE_EQ(view::Measure(host::Image{}).mean, 0.0);
    // An averaged set is its average alone.
    const view::LiveImageSet averaged(1, Stack(false), Description(false, "On"), {});
    EXPECT_EQ(averaged.Forms(), std::vector<std::string>{"average"});
    EXPECT_TRUE(averaged.DirectionStatistics().empty());
    EXPECT_FALSE(averaged.Form("stack").has_value());
    EXPECT_FALSE(view::LiveImageSet::KnownForm("Direction3"));
}

} // namespace zeb::test
