// Physics: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

struct CInstance;
class CPhysicsFixture;

// The rigid body of one instance.
class CPhysicsObject {
public:
    void SetPosition(float x, float y);  // metres; wakes the body
    void SetRotation(float degrees);
    void SetLinearVelocity(float vx, float vy);  // metres per second; wakes the body
    void SetAngularVelocity(float degreesPerSecond);
    void Destroy();  // joints, body and category lists
};

// The world of a room.
class CPhysicsWorld {
public:
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

CPhysicsFixture* Physics_CreateFixture();
void Physics_DeleteFixture(int32_t id);

// The physics library's assertion hook, installed by -debug (or options.ini "Debug").
void Physics_InstallAssertHook();
bool Physics_AssertHookInstalled();
void Physics_ResetAssertHook();

void InitPhysicsFunctions();
