#include "Feature.h"

#include "Tamo/Exception.h"

namespace Tamo::Morvane::Zeb {

void Feature::SetValue(const Tamo::String& value) {
    switch (_type) {
    case FeatureType::Enum:
        for (const Tamo::String& entry : _enumValues)
            if (entry == value) {
                _value = value;
                return;
            }
        throw Tamo::Exception("Enum value not valid. (Name = " + _name + ", Value = " + value + ")",
                              "Tamo::Morvane::Zeb::Feature::SetValue");
    case FeatureType::Int:
        _value = Tamo::String::FromInt(value.ToInt());
        return;
    case FeatureType::Float:
        _value = Tamo::String::FromFloat(value.ToFloat());
        return;
    case FeatureType::Bool:
        _value = value == "True" ? "True" : "False";
        return;
    case FeatureType::String:
        _value = value;
        return;
    default:
        return; // commands and unknown codes store nothing
    }
}

} // namespace Tamo::Morvane::Zeb
