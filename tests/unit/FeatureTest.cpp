#include "Feature.h"
#include "Tamo.h"

#include <gtest/gtest.h>

using Tamo::Morvane::Zeb::Feature;
namespace FeatureType = Tamo::Morvane::Zeb::FeatureType;

TEST(Feature, NormalisesValuesByType) {
    const struct {
        int32_t type;
        const char *given, *stored;
    } cases[] = {{FeatureType::Int, "42", "42"},
                 {FeatureType::Int, "0042", "42"},
                 {FeatureType::Int, "abc", "0"},
                 {FeatureType::Int, "-17xyz", "-17"},
                 {FeatureType::Float, "1100.0", "1100"},
                 {FeatureType::Float, "0.5", "0.5"},
                 {FeatureType::Bool, "1", "False"},
                 {FeatureType::Bool, "True", "True"},
                 {FeatureType::String, "any \xC2\xB0 text", "any \xC2\xB0 text"},
                 {FeatureType::Command, "ignored", ""},
                 {9, "ignored", ""}};
    for (const auto& [type, given, stored] : cases) {
        Feature feature("Name", type);
        feature.SetValue(given);
        EXPECT_EQ(feature.Value(), stored) << type << ": " << given;
    }
    Feature flag("Flag", FeatureType::Bool);
    flag.SetValue("True");
    EXPECT_TRUE(flag.ToBool());
    flag.SetValue("true");
    EXPECT_FALSE(flag.ToBool());
}

TEST(Feature, EnumerationRejectsUnlistedTextAndKeepsOldValue) {
    Feature mode("Mode", FeatureType::Enum);
    EXPECT_THROW(mode.SetValue("On"), Tamo::Exception); // empty list matches nothing
    mode._enumValues = {"Off", "On"};
    mode.SetValue("On");
    try {
        mode.SetValue("on");
        FAIL() << "lower-case text accepted";
    } catch (const Tamo::Exception& error) {
        EXPECT_EQ(error.Error(), "Enum value not valid. (Name = Mode, Value = on)");
        EXPECT_EQ(error.Function(), "Tamo::Morvane::Zeb::Feature::SetValue");
    }
    EXPECT_EQ(mode.Value(), "On");
}
