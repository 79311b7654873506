// Until the physics subsystem exists: no room has a world, no fixture is made.
#include "physics/physics.h"

#include "core/seam_trace.h"

namespace {
bool g_physicsAssertHook = false;
}

// No world or body exists while physics is a seam, so these are never reached.
void CPhysicsObject::SetPosition(float, float) {}
void CPhysicsObject::SetRotation(float) {}
void CPhysicsObject::SetLinearVelocity(float, float) {}
void CPhysicsObject::SetAngularVelocity(float) {}
void CPhysicsObject::Destroy() {}
void CPhysicsWorld::CreateBody(CPhysicsFixture*, CInstance*, float, float) {}
void CPhysicsWorld::DestroyBody(CPhysicsObject*) {}
int32_t CPhysicsWorld::GetCollisionPointCount(CInstance*) { return 0; }
bool CPhysicsWorld::GetCollisionPoint(CInstance*, int32_t, float*, float*) { return false; }
bool CPhysicsWorld::GetCollisionNormal(CInstance*, int32_t, float*, float*) { return false; }

void PhysicsWorldUpdate(CPhysicsWorld*, int32_t, bool) { SeamTrace_Record("PhysicsWorldUpdate"); }

CPhysicsFixture* Physics_CreateFixture()
{
    SeamTrace_Record("Physics_CreateFixture");
    return nullptr;
}

void Physics_DeleteFixture(int32_t) { SeamTrace_Record("Physics_DeleteFixture"); }

void Physics_InstallAssertHook()
{
    SeamTrace_Record("PhysicsAssertHook");
    g_physicsAssertHook = true;
}

bool Physics_AssertHookInstalled() { return g_physicsAssertHook; }
void Physics_ResetAssertHook() { g_physicsAssertHook = false; }

void InitPhysicsFunctions() { SeamTrace_Record("InitPhysicsFunctions"); }
