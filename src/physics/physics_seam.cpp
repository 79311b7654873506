// Until the physics subsystem exists: no room has a world, no fixture is made.
#include "physics/physics.h"

#include <new>
#include <vector>

#include "core/memory_manager.h"
#include "core/seam_trace.h"

namespace {
bool g_physicsAssertHook = false;
const PhysicsBodyHooks* g_physicsBodyHooks = nullptr;
// Fixtures by id; a deleted one leaves a null slot so ids are not reused.
using PhysicsSeamFixtures = std::vector<CPhysicsFixture*, MemAllocator<CPhysicsFixture*>>;
PhysicsSeamFixtures* g_physicsFixtures = nullptr;
}  // namespace

const PhysicsBodyHooks* Physics_SetBodyHooks(const PhysicsBodyHooks* hooks)
{
    const PhysicsBodyHooks* old = g_physicsBodyHooks;
    g_physicsBodyHooks = hooks;
    return old;
}

void CPhysicsFixture::SetCircleShape(float r)
{
    FreePoints();
    shape = SHAPE_CIRCLE;
    radius = r;
}

void CPhysicsFixture::SetBoxShape()
{
    FreePoints();
    shape = SHAPE_BOX;
}

void CPhysicsFixture::SetPolygonShape()
{
    FreePoints();
    shape = SHAPE_POLYGON;
}

void CPhysicsFixture::AddShapePoint(float x, float y)
{
    if (pointCount == pointCapacity) {
        const int32_t grown = pointCapacity > 0 ? pointCapacity * 2 : 8;
        points = static_cast<float*>(MemReAlloc(points, sizeof(float) * 2 * size_t(grown)));
        pointCapacity = grown;
    }
    points[2 * pointCount] = x;
    points[2 * pointCount + 1] = y;
    ++pointCount;
}

void CPhysicsFixture::FreePoints()
{
    MemFree(points);
    points = nullptr;
    pointCount = pointCapacity = 0;
}

// A world holds its settings only while physics is a seam: there is no library world to step.
CPhysicsWorld::CPhysicsWorld(float scale, int32_t speed) : pixelToMetre(scale), updateSpeed(speed)
{
    SeamTrace_Record("CPhysicsWorld::CPhysicsWorld");
}
CPhysicsWorld::CPhysicsWorld(const CPhysicsWorld* other)
    : pixelToMetre(other->pixelToMetre), updateSpeed(other->updateSpeed), gravityX(other->gravityX),
      gravityY(other->gravityY)
{
    SeamTrace_Record("CPhysicsWorld::CopyFrom");
}
CPhysicsWorld::~CPhysicsWorld() = default;
void* CPhysicsWorld::operator new(size_t size) { return MemAlloc(size); }
void CPhysicsWorld::operator delete(void* p) { MemFree(p); }
void CPhysicsWorld::SetGravity(float x, float y)
{
    SeamTrace_Record("CPhysicsWorld::SetGravity");
    gravityX = x;
    gravityY = y;
}

// A seam body is its state alone: the operations change it as the library would, without a world step.
void CPhysicsObject::SetPosition(float x, float y)
{
    body.x = x;
    body.y = y;
    body.flags |= PhysicsBodyState::FLAG_AWAKE;
}
void CPhysicsObject::SetRotation(float degrees) { body.angle = degrees * (3.1415927f / 180.0f); }
void CPhysicsObject::SetLinearVelocity(float vx, float vy)
{
    body.linearVelocityX = vx;
    body.linearVelocityY = vy;
    body.flags |= PhysicsBodyState::FLAG_AWAKE;
}
void CPhysicsObject::SetAngularVelocity(float degreesPerSecond)
{
    body.angularVelocity = degreesPerSecond * (3.1415927f / 180.0f);
}
void CPhysicsObject::SetActive(bool active)
{
    if (active) body.flags |= PhysicsBodyState::FLAG_ACTIVE;
    else body.flags &= ~PhysicsBodyState::FLAG_ACTIVE;
}
void CPhysicsObject::SetFixedRotation(bool fixed)
{
    if (fixed) {
        body.flags |= PhysicsBodyState::FLAG_FIXED_ROTATION;
        body.angularVelocity = 0.0f;
    } else {
        body.flags &= ~PhysicsBodyState::FLAG_FIXED_ROTATION;
    }
}
void CPhysicsObject::Destroy()
{
    if (g_physicsBodyHooks && g_physicsBodyHooks->destroyObject) g_physicsBodyHooks->destroyObject(this);
}
void CPhysicsWorld::CreateBody(CPhysicsFixture* fixture, CInstance* instance, float offsetX, float offsetY)
{
    if (g_physicsBodyHooks && g_physicsBodyHooks->createBody)
        g_physicsBodyHooks->createBody(this, fixture, instance, offsetX, offsetY);
}
void CPhysicsWorld::DestroyBody(CPhysicsObject* object)
{
    if (g_physicsBodyHooks && g_physicsBodyHooks->destroyBody) g_physicsBodyHooks->destroyBody(this, object);
}
namespace {
const PhysicsContactSource* g_physicsContactSource = nullptr;
}  // namespace

const PhysicsContactSource* Physics_SetContactSource(const PhysicsContactSource* source)
{
    const PhysicsContactSource* old = g_physicsContactSource;
    g_physicsContactSource = source;
    return old;
}
int32_t CPhysicsWorld::GetCollisionPointCount(CInstance* instance)
{
    const PhysicsContactSource* c = g_physicsContactSource;
    return c && c->pointCount ? c->pointCount(this, instance) : 0;
}
bool CPhysicsWorld::GetCollisionPoint(CInstance* instance, int32_t n, float* x, float* y)
{
    const PhysicsContactSource* c = g_physicsContactSource;
    return c && c->point && c->point(this, instance, n, false, x, y);
}
bool CPhysicsWorld::GetCollisionNormal(CInstance* instance, int32_t n, float* x, float* y)
{
    const PhysicsContactSource* c = g_physicsContactSource;
    return c && c->point && c->point(this, instance, n, true, x, y);
}

void PhysicsWorldUpdate(CPhysicsWorld*, int32_t, bool) { SeamTrace_Record("PhysicsWorldUpdate"); }

CPhysicsFixture* Physics_CreateFixture()
{
    SeamTrace_Record("Physics_CreateFixture");
    if (!g_physicsFixtures) g_physicsFixtures = new (MemAlloc(sizeof(PhysicsSeamFixtures))) PhysicsSeamFixtures();
    void* block = MemAlloc(sizeof(CPhysicsFixture));
    auto* fixture = new (block) CPhysicsFixture();
    fixture->id = int32_t(g_physicsFixtures->size());
    g_physicsFixtures->push_back(fixture);
    return fixture;
}

void Physics_DeleteFixture(int32_t id)
{
    SeamTrace_Record("Physics_DeleteFixture");
    if (!g_physicsFixtures || id < 0 || size_t(id) >= g_physicsFixtures->size()) return;
    CPhysicsFixture* fixture = (*g_physicsFixtures)[size_t(id)];
    if (!fixture) return;
    (*g_physicsFixtures)[size_t(id)] = nullptr;
    fixture->FreePoints();
    fixture->~CPhysicsFixture();
    MemFree(fixture);
    // Every fixture gone: start the ids again so the table does not grow for ever.
    bool any = false;
    for (CPhysicsFixture* f : *g_physicsFixtures) any = any || f;
    if (!any) g_physicsFixtures->clear();
}

void Physics_InstallAssertHook()
{
    SeamTrace_Record("PhysicsAssertHook");
    g_physicsAssertHook = true;
}

bool Physics_AssertHookInstalled() { return g_physicsAssertHook; }
void Physics_ResetAssertHook() { g_physicsAssertHook = false; }

void InitPhysicsFunctions() { SeamTrace_Record("InitPhysicsFunctions"); }
