#include "Feature.h"
#include "Tamo.h"

#include <gtest/gtest.h>

using Tamo::Morvane::Zeb::Feature;
namespace FeatureType = Tamo::Morvane::Zeb::FeatureType;

TEST(Feature, NormalisesValuesByType) {
    Feature integer("Count", FeatureType::Int);
    integer.SetValue("42");
    EXPECT_EQ(integer.Value(), "42");
    integer.SetValue("0042");
    EXPECT_EQ(integer.Value(), "42");
    integer.SetValue("abc");
    EXPECT_EQ(integer.Value(), "0");
    integer.SetValue("-17xyz");
    EXPECT_EQ(integer.Value(), "-17");

    Feature real("Rate", FeatureType::Float);
    real.SetValue("1100.0");
    EXPECT_EQ(real.Value(), "1100");
    real.SetValue("0.5");
    EXPECT_EQ(real.Value(), "0.5");

    Feature flag("Flag", FeatureType::Bool);
    flag.SetValue("1");
    EXPECT_EQ(flag.Value(), "False");
    flag.SetValue("True");
    EXPECT_EQ(flag.Value(), "True");
    EXPECT_TRUE(flag.ToBool());
    flag.SetValue("true");
    EXPECT_FALSE(flag.ToBool());

    Feature text("Text", FeatureType::String);
    text.SetValue("any \xC2\xB0 text");
    EXPECT_EQ(text.Value(), "any \xC2\xB0 text");

    Feature command("Go", FeatureType::Command);
    command.SetValue("ignored");
    EXPECT_EQ(command.Value(), "");
    Feature unknown("Odd", 9);
    unknown.SetValue("ignored");
    EXPECT_EQ(unknown.Value(), "");
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
