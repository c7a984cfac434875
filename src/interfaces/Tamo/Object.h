// Tamo::Object, Reflection, Type, List and Var: the framework's polymorphic base, its class
// records and its ordered object list.
#pragma once

#include "Tamo/String.h"

#include <functional>
#include <memory>
#include <vector>

namespace Tamo {

class Object;
class Type;

// Static per-class record: a factory for a default instance, the fully qualified class name and
// the base class's record.
struct Reflection {
    std::function<Object*()> factory;
    const char* name;
    const Reflection* base;

    // The framework's type registry: classes known by name to the process.
    static void RegisterType(const Type& type);
    static void UnregisterType(const Type& type);
    static bool IsRegistered(const String& name);
};

// Handle of a reflected class.
class Type {
public:
    explicit Type(const Reflection* record = nullptr) : _record(record) {}
    String Name() const { return _record ? String(_record->name) : String(); }
    Type Base() const { return Type(_record ? _record->base : nullptr); }
    Object* CreateInstance() const { return _record && _record->factory ? _record->factory() : nullptr; }
    bool operator==(const Type& other) const { return _record == other._record; }

private:
    const Reflection* _record;
};

class Object {
public:
    static const Tamo::Reflection Reflection;
    virtual Type GetType() const { return Type(&Object::Reflection); }
    virtual Object* Clone() const { return new Object(*this); }
    virtual ~Object() = default;
};

// Holder through which an object enters a list; shares ownership with the list.
class Var {
public:
    Var() = default;
    explicit Var(Object* object) : _object(object) {}
    Object* Get() const { return _object.get(); }
    const std::shared_ptr<Object>& Shared() const { return _object; }

private:
    std::shared_ptr<Object> _object;
};

template <typename T> class var : public Var {
public:
    explicit var(T* object) : Var(object) {}
    T* operator->() const { return static_cast<T*>(Get()); }
};

// Ordered object list.
class List {
public:
    static constexpr int32_t End = 0x7FFFFFFF;
    // Inserts the holder's object before `position`; positions past the end append.
    void Add(const Var& holder, int32_t position);
    int32_t Count() const { return static_cast<int32_t>(_items.size()); }
    Object* At(int32_t index) const { return _items[static_cast<size_t>(index)].get(); }
    void Clear() { _items.clear(); }

private:
    std::vector<std::shared_ptr<Object>> _items;
};

template <typename T> class list : public List {
public:
    T* operator[](int32_t index) const { return static_cast<T*>(At(index)); }
};

} // namespace Tamo
