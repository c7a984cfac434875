#include "Tamo/Object.h"

#include "ModuleLifetime.h"

#include <algorithm>
#include <mutex>

namespace Tamo {

const Tamo::Reflection Object::Reflection{[] { return new Object(); }, "Tamo::Object", nullptr};

namespace {
// The classes the process knows by name, released when the module unloads (after the plug-in's
// own static objects have unregistered theirs).
struct TypeRegistry {
    std::mutex mutex;
    std::vector<Type> types;
};
[[gnu::init_priority(zeb::lifetime::TypeRegistry)]] TypeRegistry registry;
} // namespace

void Reflection::RegisterType(const Type& type) {
    std::lock_guard lock(registry.mutex);
    registry.types.push_back(type);
}

void Reflection::UnregisterType(const Type& type) {
    std::lock_guard lock(registry.mutex);
    auto& types = registry.types;
    types.erase(std::remove(types.begin(), types.end(), type), types.end());
}

bool Reflection::IsRegistered(const String& name) {
    std::lock_guard lock(registry.mutex);
    for (const Type& type : registry.types)
        if (type.Name() == name)
            return true;
    return false;
}

void List::Add(const Var& holder, int32_t position) {
    if (!holder.Get())
        return;
    const size_t at = position < 0 ? 0 : std::min(static_cast<size_t>(position), _items.size());
    _items.insert(_items.begin() + static_cast<std::ptrdiff_t>(at), holder.Shared());
}

} // namespace Tamo
