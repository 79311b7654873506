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

// The rigid body of one instance.
class CPhysicsObject {
public:
    void SetPosition(float x, float y);  // metres; wakes the body
    void SetRotation(float degrees);
    void SetLinearVelocity(float vx, float vy);  // metres per second; wakes the body
    void SetAngularVelocity(float degreesPerSecond);
    void Destroy();  // joints, body and category lists
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
    // Contact points of the current contact, in pixels; 0 / false when the instance is not in it.
    int32_t GetCollisionPointCount(CInstance* instance);
    bool GetCollisionPoint(CInstance* instance, int32_t n, float* x, float* y);
    bool GetCollisionNormal(CInstance* instance, int32_t n, float* x, float* y);
};

// The frame's physics step, run instead of instance motion in a room with a world.
void PhysicsWorldUpdate(CPhysicsWorld* world, int32_t fps, bool anyPathActive);

CPhysicsFixture* Physics_CreateFixture();  // a new fixture with its id
void Physics_DeleteFixture(int32_t id);    // unknown ids are ignored

// The physics library's assertion hook, installed by -debug (or options.ini "Debug").
void Physics_InstallAssertHook();
bool Physics_AssertHookInstalled();
void Physics_ResetAssertHook();

void InitPhysicsFunctions();
