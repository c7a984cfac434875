// Feature: one named setting, read-only value or command of a video channel, held as text.
#pragma once

#include "Export.h"
#include "Tamo/String.h"

#include <vector>

namespace Tamo::Morvane::Zeb {

// Type codes the host receives from GetFeatureType.
namespace FeatureType {
enum : int32_t { Enum = 1, Int = 2, Float = 3, Command = 4, Bool = 5, String = 6 };
}

// Attribute numbers the host passes to GetFeatureAttr.
namespace FeatureAttribute {
enum : int32_t { Comment = 1, Readable = 2, Writable = 3, CommonParam = 4 };
}

class ZEB_EXPORT Feature {
public:
    Feature(Tamo::String name, int32_t type) : _name(std::move(name)), _type(type) {}

    const Tamo::String& Value() const { return _value; }
    // Stores a value normalised by the type; an enumeration rejects texts it does not list.
    void SetValue(const Tamo::String& value);
    int32_t ToInt() const { return _value.ToInt(); }
    float ToFloat() const { return _value.ToFloat(); }
    bool ToBool() const { return _value == "True"; }

    // Set by the owning channel directly after construction.
    Tamo::String _name;
    int32_t _type;
    bool _readable = true;
    bool _writable = true;
    bool _commonParam = false;
    std::vector<Tamo::String> _enumValues;
    Tamo::String _value;
};

} // namespace Tamo::Morvane::Zeb
