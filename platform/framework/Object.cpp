#include "Tamo/Object.h"

#include <algorithm>
#include <mutex>

namespace Tamo {

const Tamo::Reflection Object::Reflection{[] { return new Object(); }, "Tamo::Object", nullptr};

namespace {
std::mutex registryMutex;
std::vector<Type>& Registry() {
    static auto* registry = new std::vector<Type>(); // outlives the static objects that unregister
    return *registry;
}
} // namespace

void Reflection::RegisterType(const Type& type) {
    std::lock_guard lock(registryMutex);
    Registry().push_back(type);
}

void Reflection::UnregisterType(const Type& type) {
    std::lock_guard lock(registryMutex);
    auto& registry = Registry();
    registry.erase(std::remove(registry.begin(), registry.end(), type), registry.end());
}

bool Reflection::IsRegistered(const String& name) {
    std::lock_guard lock(registryMutex);
    for (const Type& type : Registry())
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
