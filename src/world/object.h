// Objects: the templates instances are made from, their event handlers, the table of every object of the
// game, and the per-event object lists and collision pairs the event stages walk.
#pragma once
#include <cstddef>
#include <cstdint>

#include "world/world_access.h"  // Object_Exists and Object_GetName go through the world table

class CCode;
struct CInstance;

// Event types (the object keeps 12 tables; table 11 is never filled by the data).
constexpr int32_t EVENT_CREATE = 0;
constexpr int32_t EVENT_DESTROY = 1;
constexpr int32_t EVENT_ALARM = 2;
constexpr int32_t EVENT_STEP = 3;
constexpr int32_t EVENT_COLLISION = 4;
constexpr int32_t EVENT_KEYBOARD = 5;
constexpr int32_t EVENT_MOUSE = 6;
constexpr int32_t EVENT_OTHER = 7;
constexpr int32_t EVENT_DRAW = 8;
constexpr int32_t EVENT_KEYPRESS = 9;
constexpr int32_t EVENT_KEYRELEASE = 10;
constexpr int32_t OBJECT_EVENT_TYPES = 12;
constexpr int32_t OBJECT_LIST_TYPES = 11;     // per-event lists exist for types 0 ... 10
constexpr int32_t OBJECT_LIST_NUMBERS = 256;  // sub-numbers 0 ... 255

// Object flags.
constexpr uint32_t OBJECT_FLAG_SOLID = 1;
constexpr uint32_t OBJECT_FLAG_VISIBLE = 2;
constexpr uint32_t OBJECT_FLAG_PERSISTENT = 4;
constexpr uint32_t OBJECT_FLAG_COLLIDES = 8;     // takes part in a collision event (set by the pair build)
constexpr uint32_t OBJECT_FLAG_COLLISIONS = 16;  // its instances enter the instance collision tree
constexpr uint32_t OBJECT_FLAGS_INITIAL = 18;

// Physics shape kinds.
constexpr int32_t OBJECT_SHAPE_CIRCLE = 0;
constexpr int32_t OBJECT_SHAPE_BOX = 1;
constexpr int32_t OBJECT_SHAPE_POLYGON = 2;

// A doubly linked list of values whose nodes are memory-manager blocks {next, previous, value}.
template <class T>
struct SLinkedListNode {
    SLinkedListNode* next;
    SLinkedListNode* prev;
    T value;
};

template <class T>
struct SLinkedList {
    SLinkedListNode<T>* head = nullptr;
    SLinkedListNode<T>* tail = nullptr;
    int32_t count = 0;

    void Append(T value);
    bool RemoveFirst(T value);  // the first node holding the value; false when there is none
    bool Contains(T value) const;
    void Clear();               // frees the nodes; the values are left alone
};

// One event handler: a code object that runs on (self, other). A handler without the marker counts as
// absent, whatever its code.
class CEvent {
public:
    CEvent() = default;
    virtual ~CEvent();  // deletes the code object
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    // Binds the handler to a code entry when the game carries code (bytecode or compiled code); otherwise
    // the event stays without code. A code id below 0 leaves it without code as well.
    bool LoadFromCodeId(int32_t codeId);
    bool HasCode() const { return marker != nullptr; }
    bool Prepare() { return true; }
    // Leaves the event and its code as they are (object_event_clear rebuilds the lists after it).
    void Clear() {}
    // Runs the code on (self, other) with argument_relative cleared for the run and restored after;
    // a failing handler is reported without aborting. False when the code failed.
    bool Execute(CInstance* self, CInstance* other);

    CCode* code = nullptr;
    const char* marker = nullptr;  // non-null exactly when the event has code
};

struct CObjectEventTable {
    int32_t count = 0;           // slots, indexed by event number
    CEvent** items = nullptr;    // memory-manager block; slots may be null
};

struct ObjectShapePoint {
    float x;
    float y;
};

class CObject {
public:
    explicit CObject(int32_t index);
    ~CObject();
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    // Back to the initial values: events deleted, tables and instance lists emptied, name freed.
    void Clear();
    void SetName(const char* text);  // a copy; null or empty stores none
    void SetNameDirect(char* text);  // adopts a memory-manager block

    // The own table's handler with code, or null. A type outside 0 ... 11 or a number below 0 reports
    // "Invalid event argument" as an aborting error and finds nothing.
    CEvent* GetEvent(int32_t type, int32_t number);
    // The handler found on the object or an ancestor; for collisions (type 4, number = the other object)
    // also a handler for an ancestor of the other object. *found (when given) gets the object index the
    // handler was found in. This is the one handler search; dispatch uses it.
    CEvent* FindEvent(int32_t type, int32_t number, int32_t* found = nullptr);
    // The object or an ancestor has code for the event (no collision rule).
    bool HasEvent(int32_t type, int32_t number);
    // Some ancestor (not the object itself) has that index.
    bool IsChildOf(int32_t index);
    // Stores the parent index and, for 0 ... 999999, the resolved parent (null when absent). The live
    // instances of the object and its descendants move from the old ancestors' lists to the new ones'.
    void SetParent(int32_t parentIndex);

    // Own list, then the descendants list of this object and of every ancestor.
    void AddInstance(CInstance* instance);
    void RemoveInstance(CInstance* instance);
    void ClearInstanceLists();

    // Sets event_type and event_number for each handler and prepares it; false stops the walk.
    bool PrepareEvents();

    uint32_t flags = OBJECT_FLAGS_INITIAL;
    int32_t spriteIndex = -1;  // a stored index with bits 28-30 set names no sprite
    int32_t depth = 0;
    int32_t parentIndex = -1;  // negative: no parent
    int32_t maskIndex = -1;
    char* name = nullptr;
    int32_t index;

    bool usesPhysics = false;
    bool sensor = false;
    int32_t shapeKind = OBJECT_SHAPE_CIRCLE;
    int32_t collisionGroup = 0;  // read as a signed 16-bit value
    float density = 0.0f;
    float restitution = 0.0f;
    float linearDamping = 0.0f;
    float angularDamping = 0.0f;
    float friction = 0.2f;
    bool awake = true;
    bool kinematic = false;
    int32_t shapePointCount = 0;
    ObjectShapePoint* shapePoints = nullptr;  // memory-manager block of shapePointCount points

    CObject* parent = nullptr;  // resolved parent
    CObjectEventTable events[OBJECT_EVENT_TYPES];
    SLinkedList<CInstance*> instances;           // own instances
    SLinkedList<CInstance*> instancesRecursive;  // instances of this object and its descendants
};

// The process-wide marker word: bit 31 of an object's sprite word is moved here (the version text reads it).
extern uint32_t g_ObjectSpriteMarker;

// ---- The object table ----
void Object_Init();  // empties the table before the game data is read
// OBJT. Every offset and count is checked against the data; a violation fails pass 2 with a console line
// naming the chunk and the entry.
bool Object_Load(uint8_t* body, uint32_t size, uint8_t* base);
bool Object_Prepare();  // "Preparing %d objects:" and one line per object; false on the first failure
int32_t Object_Count();  // entries of the chunk (gaps included) plus the objects added since
// The object of that index, or null (absent, deleted, out of range). Hash_FindObject is the same lookup.
CObject* Object_Data(int32_t index);
CObject* Hash_FindObject(int32_t index);
// Object_Find (lowest index whose name matches exactly, or -1) is declared in core/constants.h.
int32_t Object_Find(const char* name);
int32_t Object_Add();               // a new empty object "__newobject<n>" at the next index
// Unlists the object everywhere (per-event lists, pairs, children's parent links) at once; the record is
// kept, unreachable, until Object_FreeAll so nothing that still points at it dangles. True.
bool Object_Delete(int32_t index);
// Resolves every parent link; a link to the object itself or one that closes a cycle is cut (parent -1,
// one log line naming the object), so every ancestor walk ends.
void Object_LinkParents();
void Object_ClearAllInstanceLists();
void Object_FreeAll();  // every object, the table and the lists; count 0

// What the world table answers for objects (install these in the real world access).
bool ObjectTable_Exists(int32_t index);
const char* ObjectTable_Name(int32_t index);  // null when absent
int32_t ObjectTable_Parent(int32_t index);    // -1 when absent or without parent

// ---- Per-event object lists and collision pairs ----
struct ObjectList {
    int32_t count = 0;
    int32_t capacity = 0;
    int32_t* objects = nullptr;  // ascending object indexes
};

struct CollisionPair {
    int32_t a;
    int32_t b;
    CObject* objectA;
    CObject* objectB;
    uint8_t active;
};

// Rebuilds every list and the pairs from the current table; may run at any time between stages.
void ObjectLists_Build();
// Clears all 256 lists of the type, then builds sub-numbers 0 ... last.
void ObjectLists_BuildType(int32_t type, int32_t last);
void ObjectLists_BuildCollisionPairs();
void ObjectLists_Free();
// The list of (type, number); an empty list outside 0 ... 10 / 0 ... 255.
const ObjectList& ObjectLists_Get(int32_t type, int32_t number);
int32_t CollisionPairs_Count();
const CollisionPair* CollisionPairs_Data();

// Loader helper shared with timelines: the code id of an action list (u32 count, then references to
// action records; the first record's word at 32 is the code id), -1 for an empty list. False, with the
// damage recorded naming "<owner> <entry>", when the list does not fit the data.
class WadReader;
bool ObjectLoad_ActionCodeId(WadReader& r, uint32_t list, uint32_t entry, const char* owner, int32_t* codeId);

// ---- Template bodies ----
void* SLinkedList_AllocNode(size_t size);
void SLinkedList_FreeNode(void* node);

template <class T>
void SLinkedList<T>::Append(T value)
{
    auto* node = static_cast<SLinkedListNode<T>*>(SLinkedList_AllocNode(sizeof(SLinkedListNode<T>)));
    node->next = nullptr;
    node->prev = tail;
    node->value = value;
    if (tail) tail->next = node;
    else head = node;
    tail = node;
    ++count;
}

template <class T>
bool SLinkedList<T>::RemoveFirst(T value)
{
    for (SLinkedListNode<T>* n = head; n; n = n->next) {
        if (n->value != value) continue;
        if (n->prev) n->prev->next = n->next;
        else head = n->next;
        if (n->next) n->next->prev = n->prev;
        else tail = n->prev;
        --count;
        SLinkedList_FreeNode(n);
        return true;
    }
    return false;
}

template <class T>
bool SLinkedList<T>::Contains(T value) const
{
    for (SLinkedListNode<T>* n = head; n; n = n->next)
        if (n->value == value) return true;
    return false;
}

template <class T>
void SLinkedList<T>::Clear()
{
    for (SLinkedListNode<T>* n = head; n;) {
        SLinkedListNode<T>* next = n->next;
        SLinkedList_FreeNode(n);
        n = next;
    }
    head = tail = nullptr;
    count = 0;
}
