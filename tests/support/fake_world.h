// A small game world for tests: objects with names and parents, instances (each with its own script
// object for its variables), the running room's instance list and the two pending lists. Constructing a
// FakeWorld installs it as the world; destroying it restores the world that was there and frees every
// instance's script object.
//
// An object's instance list is derived from the room list: the room's instances of that object and of its
// descendants, in room order. Which instances count as live is left to the code under test.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/value.h"
#include "core/varlist.h"
#include "world/object_base.h"
#include "world/world_access.h"

namespace kvtest {

struct FakeInstance {
    QZObjectBase* object = nullptr;  // the instance's variables; owned by the world
    int32_t id = 0;
    int32_t objectIndex = -1;
    bool marked = false;       // marked for deletion
    bool deactivated = false;
};

class FakeWorld {
public:
    FakeWorld() : previous_(World_SetAccess(&kAccess)), outer_(current_) { current_ = this; }
    ~FakeWorld()
    {
        for (auto& i : instances_) ObjectBase_Free(i->object);
        current_ = outer_;
        World_SetAccess(previous_);
    }
    FakeWorld(const FakeWorld&) = delete;
    FakeWorld& operator=(const FakeWorld&) = delete;

    void AddObject(int32_t index, const std::string& name, int32_t parent = -1) { objects_[index] = {name, parent}; }

    // A new instance in no list. Its script object has slotCount slots: an array of them, or sparse slots
    // when slotArray is false; namedList gives it a named-variable list.
    CInstance* MakeInstance(int32_t id, int32_t objectIndex, int32_t slotCount = 8, bool slotArray = true,
                            bool namedList = false)
    {
        auto record = std::make_unique<FakeInstance>();
        record->id = id;
        record->objectIndex = objectIndex;
        QZObjectBase* o = ObjectBase_Alloc(slotCount, static_cast<int32_t>(VALUE_UNSET), slotArray);
        o->objectKind = OBJECT_KIND_INSTANCE;  // freed with the world, never pooled
        if (namedList && !o->named) o->named = new CVariableList();
        if (!namedList && o->named) {
            delete o->named;
            o->named = nullptr;
        }
        record->object = o;
        instances_.push_back(std::move(record));
        return Handle(instances_.back().get());
    }
    // Made and put at the end of the room list.
    CInstance* AddInstance(int32_t id, int32_t objectIndex, int32_t slotCount = 8)
    {
        CInstance* i = MakeInstance(id, objectIndex, slotCount);
        room.push_back(i);
        return i;
    }

    FakeInstance& Get(CInstance* i) { return *reinterpret_cast<FakeInstance*>(i); }
    QZObjectBase* Object(CInstance* i) { return Get(i).object; }
    static CInstance* Handle(FakeInstance* i) { return reinterpret_cast<CInstance*>(i); }

    // True when object is ancestor or ancestor's descendant (a parent loop ends the walk).
    bool Descends(int32_t object, int32_t ancestor) const
    {
        for (size_t steps = 0; object >= 0 && steps <= objects_.size(); ++steps) {
            if (object == ancestor) return true;
            auto it = objects_.find(object);
            if (it == objects_.end()) return false;
            object = it->second.parent;
        }
        return false;
    }

    std::vector<CInstance*> room;
    std::vector<CInstance*> pendingChange;
    std::vector<CInstance*> pendingActivation;
    std::vector<CInstance*> roomDeactivated;  // the room's deactivated list (the flag is the test's to set)

private:
    struct FakeObject {
        std::string name;
        int32_t parent;
    };

    static CInstance* NextOf(int32_t list, int32_t objectIndex, WorldCursor* cursor)
    {
        FakeWorld* w = current_;
        if (!w) return nullptr;
        const std::vector<CInstance*>* items = nullptr;
        switch (list) {
        case WORLD_LIST_ROOM:
        case WORLD_LIST_OBJECT: items = &w->room; break;
        case WORLD_LIST_PENDING_CHANGE: items = &w->pendingChange; break;
        case WORLD_LIST_PENDING_ACTIVATION: items = &w->pendingActivation; break;
        case WORLD_LIST_DEACTIVATED: items = &w->roomDeactivated; break;
        default: return nullptr;
        }
        while (cursor->at >= 0 && cursor->at < static_cast<intptr_t>(items->size())) {
            CInstance* i = (*items)[size_t(cursor->at++)];
            if (list != WORLD_LIST_OBJECT || w->Descends(w->Get(i).objectIndex, objectIndex)) return i;
        }
        return nullptr;
    }
    static CInstance* FindById(int32_t id)
    {
        if (!current_) return nullptr;
        for (auto& i : current_->instances_)
            if (i->id == id) return Handle(i.get());
        return nullptr;
    }
    static const FakeObject* ObjectOf(int32_t index)
    {
        if (!current_) return nullptr;
        auto it = current_->objects_.find(index);
        return it == current_->objects_.end() ? nullptr : &it->second;
    }
    static bool Exists(int32_t index) { return ObjectOf(index) != nullptr; }
    static const char* NameOf(int32_t index)
    {
        const FakeObject* o = ObjectOf(index);
        return o ? o->name.c_str() : nullptr;
    }
    static int32_t ParentOf(int32_t index)
    {
        const FakeObject* o = ObjectOf(index);
        return o ? o->parent : -1;
    }
    static FakeInstance* Of(CInstance* i) { return reinterpret_cast<FakeInstance*>(i); }
    static int32_t IdOf(CInstance* i) { return Of(i)->id; }
    static int32_t ObjectIndexOf(CInstance* i) { return Of(i)->objectIndex; }
    static bool MarkedOf(CInstance* i) { return Of(i)->marked; }
    static bool DeactivatedOf(CInstance* i) { return Of(i)->deactivated; }
    static QZObjectBase* ScriptObjectOf(CInstance* i) { return Of(i)->object; }

    static constexpr WorldAccess kAccess = {
        NextOf, FindById, Exists, NameOf, ParentOf, IdOf, ObjectIndexOf, MarkedOf, DeactivatedOf, ScriptObjectOf,
    };
    static inline FakeWorld* current_ = nullptr;

    const WorldAccess* previous_;
    FakeWorld* outer_;
    std::map<int32_t, FakeObject> objects_;
    std::vector<std::unique_ptr<FakeInstance>> instances_;
};

}  // namespace kvtest
