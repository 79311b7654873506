// Instances: defaults, ids, sprite and object changes, copies, alarms, physics bodies, the room lists, the
// id map and the deferred lists.
#include "world_harness.h"

#include "draw/draw.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "world/world_access.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using worldtest::GameDef;
using worldtest::Mode;
using worldtest::ObjectDef;

// Sprites 0 ... 9 exist with (index + 1) frames; sprite 3 has 3 frames by exception... see below.
bool InstanceTest_SpriteFacts(int32_t index, SpriteFacts* out)
{
    if (index < 0 || index > 9) return false;
    out->frameCount = index == 7 ? 3 : index + 1;
    out->kind = 0;
    return true;
}

// Objects made directly in the table: instance tests need their fields, not their loading.
class InstanceTest : public worldtest::WorldHarness {
protected:
    void SetUp() override
    {
        WorldHarness::SetUp();
        oldFacts_ = Sprite_SetFactsSource(InstanceTest_SpriteFacts);
        g_ShowErrorDialogs = false;
        ASSERT_TRUE(Load(GameDef{}, Mode::Bytecode));
    }
    void TearDown() override
    {
        Sprite_SetFactsSource(oldFacts_);
        g_ShowErrorDialogs = true;
        WorldHarness::TearDown();
    }
    // A new object with sprite, mask, depth and flags; its index.
    static int32_t NewObject(int32_t sprite = -1, int32_t mask = -1, int32_t depth = 0, uint32_t flags = 18,
                             int32_t parent = -1)
    {
        int32_t index = Object_Add();
        CObject* o = Object_Data(index);
        o->spriteIndex = sprite;
        o->maskIndex = mask;
        o->depth = depth;
        o->flags = flags;
        o->SetParent(parent);
        return index;
    }
    static bool Listed(int32_t object, CInstance* i, bool own)
    {
        CObject* o = Object_Data(object);
        return o && (own ? o->instances : o->instancesRecursive).Contains(i);
    }
    static std::vector<int32_t> ActiveIds(CRoom* room)
    {
        std::vector<int32_t> ids;
        for (CInstance* i = room->active.head; i; i = i->next) ids.push_back(i->id);
        return ids;
    }

    SpriteFactsSource oldFacts_ = nullptr;
};

// ---- Record and defaults ----

TEST_F(InstanceTest, FieldDefaultsWithObjectWithoutObjectAndObjectMinusOne)
{
    const int32_t obj = NewObject(/*sprite*/ 7, /*mask*/ 5, /*depth*/ -12, OBJECT_FLAG_SOLID | OBJECT_FLAG_PERSISTENT);
    struct Case {
        const char* name;
        int32_t objectIndex;
        int32_t wantIndex;
        bool hasObject;
    };
    const Case cases[] = {{"object", obj, obj, true}, {"no such object", 40, 40, false}, {"object -1", -1, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StepStamp = 77;
        CInstance inst(12.5f, -3.0f, 4242, c.objectIndex, true);
        EXPECT_EQ(inst.objectKind, OBJECT_KIND_INSTANCE);
        EXPECT_GE(inst.tableIndex, 0);
        EXPECT_EQ(inst.objectIndex, c.wantIndex);
        EXPECT_EQ(inst.object != nullptr, c.hasObject);
        EXPECT_EQ(inst.spriteIndex, c.hasObject ? 7 : -1);
        EXPECT_EQ(inst.maskIndex, c.hasObject ? 5 : -1);
        EXPECT_EQ(inst.depth, c.hasObject ? -12.0f : 0.0f);
        EXPECT_EQ(inst.solid, c.hasObject);
        EXPECT_FALSE(inst.visible);
        EXPECT_EQ(inst.persistent, c.hasObject);
        EXPECT_EQ(inst.bboxDirty, c.hasObject);
        EXPECT_EQ(Listed(obj, &inst, true), c.hasObject);
        struct Field {
            const char* name;
            double got;
            double want;
        };
        const Field fields[] = {
            {"id", double(inst.id), 4242},
            {"creation stamp", double(inst.creationStamp), 77},
            {"image_index", inst.imageIndex, 0},
            {"image_speed", inst.imageSpeed, 1},
            {"image_xscale", inst.imageXScale, 1},
            {"image_yscale", inst.imageYScale, 1},
            {"image_angle", inst.imageAngle, 0},
            {"image_alpha", inst.imageAlpha, 1},
            {"image_blend", double(inst.imageBlend), 0xFFFFFF},
            {"x", inst.x, 12.5},
            {"y", inst.y, -3},
            {"xstart", inst.xstart, 12.5},
            {"ystart", inst.ystart, -3},
            {"xprevious", inst.xprevious, 12.5},
            {"yprevious", inst.yprevious, -3},
            {"direction", inst.direction, 0},
            {"speed", inst.speed, 0},
            {"friction", inst.friction, 0},
            {"gravity_direction", inst.gravityDirection, 270},
            {"gravity", inst.gravity, 0},
            {"hspeed", inst.hspeed, 0},
            {"vspeed", inst.vspeed, 0},
            {"bbox", double(inst.bbox.left | inst.bbox.top | inst.bbox.right | inst.bbox.bottom), 0},
            {"path_index", double(inst.pathIndex), -1},
            {"path_position", inst.pathPosition, 0},
            {"path_positionprevious", inst.pathPositionPrevious, 0},
            {"path_speed", inst.pathSpeed, 0},
            {"path_scale", inst.pathScale, 1},
            {"path_orientation", inst.pathOrientation, 0},
            {"path_endaction", double(inst.pathEndAction), 0},
            {"timeline_index", double(inst.timelineIndex), -1},
            {"timeline_position", inst.timelinePosition, 0},
            {"timeline_speed", inst.timelineSpeed, 1},
            {"timeline_running", double(inst.timelineRunning), 0},
            {"timeline_loop", double(inst.timelineLoop), 0},
            {"mouse state", double(inst.mouseState), 2},
            {"layer id", double(inst.layerId), -1},
            {"on layer", double(inst.onLayer), 0},
            {"collision pass stamp", double(inst.collisionPassStamp), -1},
            {"marked", double(inst.markedForDeletion), 0},
            {"deactivated", double(inst.deactivated), 0},
            {"destroy performed", double(inst.destroyPerformed), 0},
            {"carried over", double(inst.carriedOver), 0},
            {"created", double(inst.created), 0},
            {"outside room", double(inst.outsideRoom), 0},
            {"physics body", double(inst.physicsObject != nullptr), 0},
            {"creation code", double(inst.creationCode != nullptr), 0},
            {"previous object", double(inst.previousObject != nullptr), 0},
        };
        for (const Field& f : fields) EXPECT_EQ(f.got, f.want) << f.name;
        for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a) EXPECT_EQ(inst.alarm[a], -1) << "alarm " << a;
    }
    EXPECT_EQ(Object_Data(obj)->instances.count, 0) << "a deleted instance leaves its object's lists";
}

TEST_F(InstanceTest, IdsContinueFromTheHeadersLastInstanceId)
{
    for (int32_t last : {0, 100000, 2147000000}) {
        SCOPED_TRACE(last);
        GameDef game;
        game.lastInstanceId = last;
        ASSERT_TRUE(Load(game, Mode::Bytecode));
        EXPECT_EQ(Make(-1)->id, last + 1);
        EXPECT_EQ(room_->AddInstanceWithDepth(0, 0, 5, -1)->id, last + 2);
        Unload();
    }
}

TEST_F(InstanceTest, SpriteIndexResetsImageIndexPastTheFrameCount)
{
    struct Case {
        float imageIndex;
        int32_t sprite;  // sprite 7 has 3 frames; 42 does not exist
        float want;
    };
    const Case cases[] = {
        {3.7f, 7, 0.0f}, {2.9f, 7, 2.9f}, {3.0f, 7, 0.0f}, {-0.5f, 7, -0.5f}, {0.5f, 42, 0.0f}, {0.0f, 42, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.imageIndex << " sprite " << c.sprite);
        CInstance inst(0, 0, 1, -1, false);
        inst.imageIndex = c.imageIndex;
        inst.bboxDirty = false;
        inst.SetSpriteIndex(c.sprite);
        EXPECT_EQ(inst.spriteIndex, c.sprite);
        EXPECT_FLOAT_EQ(inst.imageIndex, c.want);
        EXPECT_TRUE(inst.bboxDirty);
        EXPECT_EQ(inst.GetImageNumber(), c.sprite == 7 ? 3.0 : 0.0);
    }
}

TEST_F(InstanceTest, AlarmsOutsideZeroToElevenReadMinusOneAndIgnoreWrites)
{
    CInstance inst(0, 0, 1, -1, false);
    for (int32_t i = 0; i < INSTANCE_ALARM_COUNT; ++i) inst.SetAlarm(i, 100 + i);
    for (int32_t bad : {12, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        inst.SetAlarm(bad, 5);
        EXPECT_EQ(inst.GetAlarm(bad), -1) << bad;
    }
    for (int32_t i = 0; i < INSTANCE_ALARM_COUNT; ++i) EXPECT_EQ(inst.GetAlarm(i), 100 + i);
}

// ---- Object changes ----

TEST_F(InstanceTest, SetObjectIndexDefersTheListsUntilApplyObjectChange)
{
    const int32_t a = NewObject(1, -1, 10), b = NewObject(2, 6, -5, OBJECT_FLAG_SOLID), c = NewObject(3, 4, 50);
    CInstance* other = Make(a);
    CInstance* inst = Make(a);
    other->depth = 0;
    InstanceList_InsertByDepth(room_, other);  // other now sorts before inst (depth 10)
    ASSERT_EQ(ActiveIds(room_), (std::vector<int32_t>{other->id, inst->id}));
    g_ObjectChangeList.Clear();
    g_DepthChangeList.Clear();

    inst->SetObjectIndex(b);
    inst->SetObjectIndex(c);
    EXPECT_EQ(inst->objectIndex, c);
    EXPECT_EQ(inst->spriteIndex, 3);
    EXPECT_EQ(inst->maskIndex, 4);
    EXPECT_EQ(inst->depth, 50.0f);
    EXPECT_EQ(inst->previousObject, Object_Data(a)) << "the first previous object is kept";
    EXPECT_TRUE(Listed(a, inst, true));
    EXPECT_FALSE(Listed(b, inst, false));
    EXPECT_FALSE(Listed(c, inst, false));
    EXPECT_EQ(g_ObjectChangeList.count, 1);
    EXPECT_EQ(g_DepthChangeList.count, 1);
    EXPECT_EQ(g_DepthChangeList.items[0], inst);

    inst->depth = -1;  // the depth setter may move it before the change applies
    inst->ApplyObjectChange();
    EXPECT_EQ(inst->previousObject, nullptr);
    EXPECT_FALSE(Listed(a, inst, true));
    EXPECT_TRUE(Listed(c, inst, true));
    EXPECT_EQ(Object_Data(a)->instances.count, 1);
    EXPECT_EQ(ActiveIds(room_), (std::vector<int32_t>{inst->id, other->id})) << "re-inserted by depth";
    EXPECT_EQ(room_->active.count, 2);
}

TEST_F(InstanceTest, InsertByDepthKeepsAscendingKeysAndInsertionOrderAmongEquals)
{
    const float depths[] = {5, 1, 5, 3, -2, 5, 1};
    std::vector<std::pair<float, int32_t>> want;
    for (float d : depths) {
        CInstance* i = room_->AddInstanceWithDepth(0, 0, d, -1);
        want.push_back({d, i->id});
    }
    std::stable_sort(want.begin(), want.end(), [](auto& l, auto& r) { return l.first < r.first; });
    std::vector<int32_t> ids;
    for (auto& w : want) ids.push_back(w.second);
    EXPECT_EQ(ActiveIds(room_), ids);
    EXPECT_EQ(room_->active.count, int32_t(std::size(depths)));
    // Walking back from the tail meets the same order reversed.
    std::vector<int32_t> back;
    for (CInstance* i = room_->active.tail; i; i = i->prev) back.insert(back.begin(), i->id);
    EXPECT_EQ(back, ids);
}

// ---- Copies ----

TEST_F(InstanceTest, CopyFromCopiesEveryListedFieldAndTheVariablesButNotThePathOrigin)
{
    const int32_t obj = NewObject(2);
    CInstance source(1, 2, 900, obj, false);
    CInstance dest(0, 0, 901, -1, false);
    // Each field gets a value different from the destination's.
    struct Field {
        const char* name;
        std::function<void(CInstance&, int)> set;
        std::function<double(CInstance&)> get;
        bool copied;
    };
#define KV_FIELD(f, copied) \
    Field{#f, [](CInstance& i, int v) { i.f = decltype(i.f)(v); }, [](CInstance& i) { return double(i.f); }, copied}
    const Field fields[] = {
        KV_FIELD(id, true), KV_FIELD(spriteIndex, true), KV_FIELD(imageIndex, true), KV_FIELD(imageSpeed, true),
        KV_FIELD(imageXScale, true), KV_FIELD(imageYScale, true), KV_FIELD(imageAngle, true),
        KV_FIELD(imageAlpha, true), KV_FIELD(imageBlend, true), KV_FIELD(maskIndex, true), KV_FIELD(depth, true),
        KV_FIELD(precise, true), KV_FIELD(x, true), KV_FIELD(y, true), KV_FIELD(xstart, true),
        KV_FIELD(ystart, true), KV_FIELD(xprevious, true), KV_FIELD(yprevious, true), KV_FIELD(direction, true),
        KV_FIELD(speed, true), KV_FIELD(friction, true), KV_FIELD(gravityDirection, true),
        KV_FIELD(gravity, true), KV_FIELD(hspeed, true), KV_FIELD(vspeed, true), KV_FIELD(bboxDirty, true),
        KV_FIELD(bbox.left, true), KV_FIELD(bbox.top, true), KV_FIELD(bbox.right, true),
        KV_FIELD(bbox.bottom, true), KV_FIELD(visible, true), KV_FIELD(solid, true), KV_FIELD(persistent, true),
        KV_FIELD(markedForDeletion, true), KV_FIELD(deactivated, true), KV_FIELD(pathIndex, true),
        KV_FIELD(pathPosition, true), KV_FIELD(pathPositionPrevious, true), KV_FIELD(pathSpeed, true),
        KV_FIELD(pathScale, true), KV_FIELD(pathOrientation, true), KV_FIELD(pathEndAction, true),
        KV_FIELD(timelineIndex, true), KV_FIELD(timelinePrevious, true), KV_FIELD(timelinePosition, true),
        KV_FIELD(timelineSpeed, true), KV_FIELD(timelineRunning, true), KV_FIELD(timelineLoop, true),
        KV_FIELD(outsideRoom, true), KV_FIELD(layerId, true), KV_FIELD(pathOriginX, false),
        KV_FIELD(pathOriginY, false), KV_FIELD(created, false), KV_FIELD(destroyPerformed, false),
    };
#undef KV_FIELD
    int v = 3;
    for (const Field& f : fields) {
        f.set(dest, 0);
        f.set(source, f.name == std::string("imageBlend") ? 0x123456 : (v++ % 2 ? v : 1));
    }
    for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a) source.alarm[a] = 30 + a;
    int32_t codeMarker = 0;
    source.creationCode = reinterpret_cast<CCode*>(&codeMarker);
    dest.carriedOver = true;

    RValue* text = ObjectBase_GetSlot(&source, 1000);  // a sparse slot
    RValue_SetString(text, "carried");
    if (source.slotCount > 0) RValue_SetReal(ObjectBase_GetSlot(&source, 0), 6.5);
    RefString* shared = text->str;
    const int32_t before = shared->refCount;

    dest.CopyFrom(&source, true);
    for (const Field& f : fields)
        EXPECT_EQ(f.get(dest), f.copied ? f.get(source) : 0.0) << f.name << (f.copied ? " copied" : " kept");
    for (int32_t a = 0; a < INSTANCE_ALARM_COUNT; ++a) EXPECT_EQ(dest.alarm[a], 30 + a);
    EXPECT_EQ(dest.objectIndex, obj);
    EXPECT_EQ(dest.object, Object_Data(obj));
    EXPECT_TRUE(Listed(obj, &dest, true)) << "joined with link";
    EXPECT_FALSE(dest.carriedOver);
    EXPECT_EQ(dest.creationCode, source.creationCode);
    dest.creationCode = source.creationCode = nullptr;

    RValue* got = ObjectBase_GetSlot(&dest, 1000);
    ASSERT_EQ(RValue_Kind(got), uint32_t(VALUE_STRING));
    EXPECT_EQ(got->str, shared);
    EXPECT_EQ(shared->refCount, before + 1) << "the copy holds a reference";
    EXPECT_STREQ(got->str->text, "carried");
    if (source.slotCount > 0) {
        EXPECT_EQ(ObjectBase_GetSlot(&dest, 0)->real, 6.5);
    }
}

// ---- Physics bodies through a recording world ----

struct RecordedBody {
    CPhysicsFixture fixture;
    std::vector<std::pair<float, float>> points;
    float offsetX, offsetY;
    int32_t instanceId;
};
std::vector<RecordedBody> g_instanceTestBodies;
CPhysicsObject* g_instanceTestBodyToken = reinterpret_cast<CPhysicsObject*>(&g_instanceTestBodies);

void InstanceTest_CreateBody(CPhysicsWorld*, CPhysicsFixture* f, CInstance* i, float ox, float oy)
{
    RecordedBody r{*f, {}, ox, oy, i->id};
    r.fixture.points = nullptr;  // the fixture's own block goes with the fixture
    for (int32_t p = 0; p < f->pointCount; ++p) r.points.push_back({f->points[2 * p], f->points[2 * p + 1]});
    g_instanceTestBodies.push_back(r);
    i->physicsObject = g_instanceTestBodyToken;
}
const PhysicsBodyHooks kInstanceTestBodies = {InstanceTest_CreateBody, nullptr, nullptr};

TEST_F(InstanceTest, PhysicsFixturesFromTheObjectShapeAndScale)
{
    using Points = std::vector<std::pair<float, float>>;
    struct Case {
        const char* name;
        int32_t shape;
        Points shapePoints;
        float xscale, yscale;
        bool body;
        float radius;
        Points want;
        float offsetX, offsetY;
        const char* message;  // null: none
    };
    const char* unequal = "Image scale for physics object using circle collision should not vary across axes: ";
    const Case cases[] = {
        {"circle", 0, {{2, 3}, {10, 0}}, 2, 2, true, 10, {}, -4, -6, nullptr},
        {"circle, unequal scale", 0, {{2, 3}, {10, 0}}, 2, 3, true, 5, {}, -2, -3, unequal},
        {"circle, scales within 0.0001", 0, {{2, 3}, {10, 0}}, 2, 2.00005f, true, 10, {}, -4, -6, nullptr},
        {"circle, no points", 0, {}, 1, 1, false, 0, {}, 0, 0, "Corrupt shape data for "},
        {"circle, one point", 0, {{2, 3}}, 1, 1, false, 0, {}, 0, 0, "Corrupt shape data for "},
        {"box", 1, {{0, 0}, {4, 0}, {4, 2}, {0, 2}}, 1, 2, true, 0, {{0, 0}, {2, 0}, {2, 2}, {0, 2}}, 0, 0, nullptr},
        {"box, mirrored in x", 1, {{0, 0}, {4, 0}, {4, 2}}, -1, 1, true, 0, {{-2, 1}, {-2, 0}, {0, 0}}, 0, 0, nullptr},
        {"polygon, mirrored twice", 2, {{0, 0}, {4, 0}, {4, 2}}, -1, -1, true, 0, {{0, 0}, {-2, 0}, {-2, -1}}, 0, 0,
         nullptr},
        {"polygon, mirrored in y", 2, {{0, 0}, {4, 0}, {4, 2}}, 1, -2, true, 0, {{2, -2}, {2, 0}, {0, 0}}, 0, 0,
         nullptr},
    };
    CPhysicsWorld world;
    world.pixelToMetre = 0.5f;
    room_->physicsWorld = &world;
    const PhysicsBodyHooks* old = Physics_SetBodyHooks(&kInstanceTestBodies);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_instanceTestBodies.clear();
        Error_ResetState();
        const int32_t obj = NewObject(1);
        CObject* o = Object_Data(obj);
        o->usesPhysics = true;
        o->shapeKind = c.shape;
        o->density = 0.25f;
        o->restitution = 0.5f;
        o->collisionGroup = -3;
        o->linearDamping = 0.125f;
        o->angularDamping = 0.375f;
        o->friction = 0.75f;
        o->sensor = true;
        o->awake = false;
        o->kinematic = true;
        o->shapePointCount = int32_t(c.shapePoints.size());
        o->shapePoints = static_cast<ObjectShapePoint*>(MemAlloc(sizeof(ObjectShapePoint) * (c.shapePoints.size() + 1)));
        for (size_t p = 0; p < c.shapePoints.size(); ++p) o->shapePoints[p] = {c.shapePoints[p].first, c.shapePoints[p].second};
        CInstance inst(0, 0, 7, obj, false);
        inst.imageXScale = c.xscale;
        inst.imageYScale = c.yscale;
        inst.CreatePhysicsBody(room_);
        ASSERT_EQ(g_instanceTestBodies.size(), c.body ? 1u : 0u);
        EXPECT_EQ(inst.physicsObject != nullptr, c.body);
        if (c.message) EXPECT_EQ(std::string(Error_LastText()), std::string(c.message) + o->name + "\n");
        else EXPECT_STREQ(Error_LastText(), "");
        inst.physicsObject = nullptr;
        if (!c.body) continue;
        const RecordedBody& b = g_instanceTestBodies[0];
        EXPECT_EQ(b.instanceId, 7);
        EXPECT_EQ(b.fixture.shape, c.shape);
        EXPECT_FLOAT_EQ(b.fixture.radius, c.radius);
        EXPECT_EQ(b.points, c.want);
        EXPECT_FLOAT_EQ(b.offsetX, c.offsetX);
        EXPECT_FLOAT_EQ(b.offsetY, c.offsetY);
        EXPECT_EQ(b.fixture.density, 0.25f);
        EXPECT_EQ(b.fixture.restitution, 0.5f);
        EXPECT_EQ(b.fixture.collisionGroup, -3);
        EXPECT_EQ(b.fixture.linearDamping, 0.125f);
        EXPECT_EQ(b.fixture.angularDamping, 0.375f);
        EXPECT_EQ(b.fixture.friction, 0.75f);
        EXPECT_TRUE(b.fixture.sensor);
        EXPECT_FALSE(b.fixture.awake);
        EXPECT_TRUE(b.fixture.kinematic);
    }
    Physics_SetBodyHooks(old);
    room_->physicsWorld = nullptr;
    Error_ResetState();
}

TEST_F(InstanceTest, NoBodyWithoutPhysicsObjectSpriteOrWorld)
{
    CPhysicsWorld world;
    const PhysicsBodyHooks* old = Physics_SetBodyHooks(&kInstanceTestBodies);
    const int32_t withSprite = NewObject(1), noSprite = NewObject(-1), plain = NewObject(1);
    for (int32_t o : {withSprite, noSprite}) {
        Object_Data(o)->usesPhysics = true;
        Object_Data(o)->shapeKind = 1;
    }
    struct Case {
        const char* name;
        int32_t object;
        bool world;
        size_t bodies;
    };
    const Case cases[] = {{"physics object", withSprite, true, 1},
                          {"no world", withSprite, false, 0},
                          {"no sprite", noSprite, true, 0},
                          {"object without physics", plain, true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_instanceTestBodies.clear();
        room_->physicsWorld = c.world ? &world : nullptr;
        CInstance* i = room_->AddInstance(0, 0, c.object);
        EXPECT_EQ(g_instanceTestBodies.size(), c.bodies);
        i->physicsObject = nullptr;
    }
    room_->physicsWorld = nullptr;
    Physics_SetBodyHooks(old);
}

// ---- The id map and deletion ----

TEST_F(InstanceTest, TwoInstancesWithOneIdSurviveTheDeletionOfEither)
{
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which);
        CInstance* a = Make(-1);
        CInstance* b = Make(-1);
        // A carried-over copy and a room's own instance can share an id.
        InstanceIdMap_Remove(b);
        b->id = a->id;
        InstanceIdMap_Insert(b->id, b);
        CInstance* gone = which == 0 ? a : b;
        CInstance* kept = which == 0 ? b : a;
        const int32_t id = a->id;
        room_->DeleteInstance(gone);
        EXPECT_EQ(Hash_FindInstance(id), kept);
        EXPECT_EQ(InstanceIdMap_Count(), 1);
        room_->DeleteInstance(kept);
        EXPECT_EQ(Hash_FindInstance(id), nullptr);
        EXPECT_EQ(InstanceIdMap_Count(), 0);
    }
}

TEST_F(InstanceTest, IdMapFindsByIdAcrossBucketsAndIteratesEveryInstance)
{
    std::vector<CInstance*> made;
    for (int32_t id : {5, 517, 1029, 511, 512, 0}) {  // three in bucket 5, the ends, a wrap to bucket 0
        auto* i = new CInstance(0, 0, id, -1, false);
        InstanceList_InsertByDepth(room_, i);
        InstanceIdMap_Insert(id, i);
        made.push_back(i);
    }
    for (CInstance* i : made) EXPECT_EQ(Hash_FindInstance(i->id), i);
    EXPECT_EQ(Hash_FindInstance(-1), nullptr);
    EXPECT_EQ(Hash_FindInstance(-507), nullptr) << "a negative id shares no bucket with a real one";
    EXPECT_EQ(Hash_FindInstance(6), nullptr);
    InstanceIdIterator it;
    InstanceIdIterator_Seek(&it, 0);
    std::vector<CInstance*> seen;
    while (CInstance* i = InstanceIdIterator_Next(&it)) seen.push_back(i);
    EXPECT_EQ(it.bucket, -1);
    EXPECT_EQ(seen.size(), made.size());
    for (CInstance* i : made) EXPECT_NE(std::find(seen.begin(), seen.end(), i), seen.end());
    InstanceIdIterator_Seek(&it, 6);
    EXPECT_EQ(it.bucket, 511);
}

TEST_F(InstanceTest, DeactivatedThenDestroyedIsUnlinkedFromTheListThatHoldsIt)
{
    CInstance* before = Make(-1);
    CInstance* inst = Make(-1);
    CInstance* after = Make(-1);
    CInstance* parked = Make(-1);
    InstanceList_AppendDeactivated(room_, parked);
    parked->deactivated = true;
    // Deactivation sets the flag at once; the move waits for the activation pass.
    inst->deactivated = true;
    room_->DeleteInstance(inst);
    EXPECT_EQ(ActiveIds(room_), (std::vector<int32_t>{before->id, after->id}));
    EXPECT_EQ(room_->active.count, 2);
    EXPECT_EQ(room_->deactivated.head, parked);
    EXPECT_EQ(room_->deactivated.count, 1);
    // And the other way round: back on (flag cleared) but still in the deactivated list.
    parked->deactivated = false;
    room_->DeleteInstance(parked);
    EXPECT_EQ(room_->deactivated.head, nullptr);
    EXPECT_EQ(room_->deactivated.count, 0);
    EXPECT_EQ(room_->active.count, 2);
}

TEST_F(InstanceTest, EveryDeletionPathPurgesAllThreeDeferredLists)
{
    struct Path {
        const char* name;
        std::function<void(CRoom*, CInstance*)> remove;
    };
    const Path paths[] = {
        {"DeleteInstance", [](CRoom* r, CInstance* i) { r->DeleteInstance(i); }},
        {"DeleteActiveInstances", [](CRoom* r, CInstance*) { r->DeleteActiveInstances(); }},
        {"room deleted", [](CRoom* r, CInstance*) { delete r; }},
        {"Instances_DeleteAll", [](CRoom*, CInstance*) { Instances_DeleteAll(); }},
    };
    for (const Path& p : paths) {
        SCOPED_TRACE(p.name);
        auto* room = new CRoom();
        CInstance* inst = room->AddInstance(0, 0, -1);
        CInstance* keep = new CInstance(0, 0, 99, -1, false);  // in no room: survives every path
        for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList}) {
            list->AddUnique(keep);
            list->AddUnique(inst);
        }
        p.remove(room, inst);
        for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList}) {
            EXPECT_FALSE(list->Contains(inst));
            EXPECT_EQ(list->count, 1);
        }
        if (p.name != std::string("room deleted")) delete room;
        delete keep;
        for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList})
            EXPECT_EQ(list->count, 0);
    }
}

// ---- What the core reads through the world table ----

TEST_F(InstanceTest, WorldAccessWalksTheRoomObjectsWithDescendantsAndPendingLists)
{
    const int32_t parent = NewObject(), child = NewObject(-1, -1, 0, 18, parent), grandchild = NewObject(-1, -1, 0, 18, child);
    const int32_t other = NewObject();
    CInstance* p = room_->AddInstanceWithDepth(0, 0, 3, parent);
    CInstance* g = room_->AddInstanceWithDepth(0, 0, 1, grandchild);
    CInstance* o = room_->AddInstanceWithDepth(0, 0, 2, other);
    CInstance* c = room_->AddInstanceWithDepth(0, 0, 0, child);
    auto walk = [](WorldList list, int32_t object) {
        std::vector<CInstance*> got;
        WorldCursor cursor;
        while (CInstance* i = World_NextInstance(list, object, &cursor)) got.push_back(i);
        return got;
    };
    using V = std::vector<CInstance*>;
    EXPECT_EQ(walk(WORLD_LIST_ROOM, -1), (V{c, g, o, p}));
    EXPECT_EQ(walk(WORLD_LIST_OBJECT, parent), (V{p, g, c}));  // in order of joining
    EXPECT_EQ(walk(WORLD_LIST_OBJECT, child), (V{g, c}));
    EXPECT_EQ(walk(WORLD_LIST_OBJECT, 999), V{});
    g_ObjectChangeList.AddUnique(o);
    g_ActivationList.AddUnique(g);
    g_ActivationList.AddUnique(c);
    EXPECT_EQ(walk(WORLD_LIST_PENDING_CHANGE, -1), V{o});
    EXPECT_EQ(walk(WORLD_LIST_PENDING_ACTIVATION, -1), (V{g, c}));
    InstanceList_AppendDeactivated(room_, o);
    EXPECT_EQ(walk(WORLD_LIST_DEACTIVATED, -1), V{o});
    o->markedForDeletion = true;
    g->deactivated = true;
    EXPECT_EQ(Instance_GetId(p), p->id);
    EXPECT_EQ(Instance_GetObjectIndex(g), grandchild);
    EXPECT_TRUE(Instance_IsMarked(o));
    EXPECT_TRUE(Instance_IsDeactivated(g));
    EXPECT_TRUE(Instance_IsLive(p));
    EXPECT_EQ(Instance_GetScriptObject(p), static_cast<QZObjectBase*>(p));
    EXPECT_EQ(Object_GetParent(grandchild), child);
    EXPECT_TRUE(Object_IsAncestorOrSelf(parent, grandchild));
    EXPECT_STREQ(Object_GetName(other), Object_Data(other)->name);
    EXPECT_STREQ(Object_GetName(4000), "<undefined>");
    SetCurrentRoom(nullptr);
    EXPECT_EQ(walk(WORLD_LIST_ROOM, -1), V{});
    SetCurrentRoom(room_);
}

}  // namespace
