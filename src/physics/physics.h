// Physics: the operations the rest of the runtime calls.
#pragma once
#include <cstddef>
#include <cstdint>

struct CInstance;
class CPhysicsWorld;
class CPhysicsObject;

// What a body is made from: one shape and its material. Made by Physics_CreateFixture, filled by the
// caller, bound with CPhysicsWorld::CreateBody and then deleted with Physics_DeleteFixture.
class CPhysicsFixture {
public:
    static constexpr int32_t SHAPE_NONE = -1;
    static constexpr int32_t SHAPE_CIRCLE = 0;
    static constexpr int32_t SHAPE_BOX = 1;
    static constexpr int32_t SHAPE_POLYGON = 2;

    void SetCircleShape(float radius);
    void SetBoxShape();
    void SetPolygonShape();
    void AddShapePoint(float x, float y);  // box and polygon, in metres
    void FreePoints();

    int32_t id = -1;
    int32_t shape = SHAPE_NONE;
    float radius = 0.0f;
    int32_t pointCount = 0;
    int32_t pointCapacity = 0;
    float* points = nullptr;  // x, y pairs (memory manager)
    float density = 0.0f;
    float restitution = 0.0f;
    int16_t collisionGroup = 0;
    float linearDamping = 0.0f;
    float angularDamping = 0.0f;
    float friction = 0.0f;
    bool sensor = false;
    bool awake = true;
    bool kinematic = false;
};

// Test doubles for body creation and destruction: when installed, every world's CreateBody and DestroyBody
// and every CPhysicsObject::Destroy call these (each may be null).
struct PhysicsBodyHooks {
    void (*createBody)(CPhysicsWorld* world, CPhysicsFixture* fixture, CInstance* instance, float offsetX,
                       float offsetY);
    void (*destroyBody)(CPhysicsWorld* world, CPhysicsObject* object);
    void (*destroyObject)(CPhysicsObject* object);
};
const PhysicsBodyHooks* Physics_SetBodyHooks(const PhysicsBodyHooks* hooks);  // returns the previous ones

// The state of a rigid body as the physics library keeps it (metres, radians, seconds).
struct PhysicsBodyState {
    static constexpr int32_t TYPE_STATIC = 0;
    static constexpr int32_t TYPE_KINEMATIC = 1;
    static constexpr int32_t TYPE_DYNAMIC = 2;
    static constexpr uint32_t FLAG_AWAKE = 2;
    static constexpr uint32_t FLAG_BULLET = 8;
    static constexpr uint32_t FLAG_FIXED_ROTATION = 16;
    static constexpr uint32_t FLAG_ACTIVE = 32;

    float x = 0.0f;
    float y = 0.0f;
    float angle = 0.0f;
    float linearVelocityX = 0.0f;
    float linearVelocityY = 0.0f;
    float angularVelocity = 0.0f;
    float linearDamping = 0.0f;
    float angularDamping = 0.0f;
    float mass = 0.0f;
    float inertia = 0.0f;  // about the centre of mass
    float localCentreX = 0.0f;
    float localCentreY = 0.0f;
    float worldCentreX = 0.0f;
    float worldCentreY = 0.0f;
    int32_t type = TYPE_DYNAMIC;
    uint32_t flags = FLAG_AWAKE | FLAG_ACTIVE;
};

// The rigid body of one instance.
class CPhysicsObject {
public:
    void SetPosition(float x, float y);  // metres; wakes the body
    void SetRotation(float degrees);
    void SetLinearVelocity(float vx, float vy);  // metres per second; wakes the body
    void SetAngularVelocity(float degreesPerSecond);
    void SetActive(bool active);
    void SetFixedRotation(bool fixed);
    void Destroy();  // joints, body and category lists

    PhysicsBodyState body;
    float previousX = 0.0f;  // metres, where the body was before the last world step
    float previousY = 0.0f;
};

// The world of a room; the room owns it.
class CPhysicsWorld {
public:
    CPhysicsWorld() = default;
    // A room's world: its scale in metres per pixel and the rate it steps at (frames per second).
    CPhysicsWorld(float scale, int32_t updateSpeed);
    // The world of a room copy: rate, iterations, scale and gravity of the other; no bodies.
    explicit CPhysicsWorld(const CPhysicsWorld* other);
    ~CPhysicsWorld();
    CPhysicsWorld(const CPhysicsWorld&) = delete;
    CPhysicsWorld& operator=(const CPhysicsWorld&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    void SetGravity(float x, float y);  // metres per second squared

    float pixelToMetre = 0.1f;  // metres per pixel
    int32_t updateSpeed = 0;
    float gravityX = 0.0f;
    float gravityY = 0.0f;
    // Makes the instance's body from the fixture and stores its physics object in the instance.
    void CreateBody(CPhysicsFixture* fixture, CInstance* instance, float offsetX, float offsetY);
    void DestroyBody(CPhysicsObject* object);
    // Contact points of the current contact, in pixels; 0 / false when the instance is not in it. Until the
    // physics library is wired in, tests give the contact through Physics_SetContactSource.
    int32_t GetCollisionPointCount(CInstance* instance);
    bool GetCollisionPoint(CInstance* instance, int32_t n, float* x, float* y);
    bool GetCollisionNormal(CInstance* instance, int32_t n, float* x, float* y);
};

struct PhysicsContactSource {
    int32_t (*pointCount)(CPhysicsWorld* world, CInstance* instance);
    bool (*point)(CPhysicsWorld* world, CInstance* instance, int32_t n, bool normal, float* x, float* y);
};
const PhysicsContactSource* Physics_SetContactSource(const PhysicsContactSource* source);

// The frame's physics step, run instead of instance motion in a room with a world.
void PhysicsWorldUpdate(CPhysicsWorld* world, int32_t fps, bool anyPathActive);

CPhysicsFixture* Physics_CreateFixture();  // a new fixture with its id
void Physics_DeleteFixture(int32_t id);    // unknown ids are ignored

// The physics library's assertion hook, installed by -debug (or options.ini "Debug").
void Physics_InstallAssertHook();
bool Physics_AssertHookInstalled();
void Physics_ResetAssertHook();

void InitPhysicsFunctions();
