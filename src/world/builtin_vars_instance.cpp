// The built-in variables of one instance: position, motion, image, box, path, timeline, layer and physics
// body. Each works on self; reached with no instance (push.b), every one of them fails and changes nothing,
// except the few in the list that show global state.
#include <cmath>

#include "core/value.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "gfx/device.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "services/services.h"
#include "world/builtin_variables.h"
#include "world/builtin_vars.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/stages.h"
#include "world/step.h"

namespace {

// ---- plain fields ----

template <float CInstance::*Field>
bool IV_GetFloat(CInstance* self, int32_t, RValue* out)
{
    return self && BV_Out(out, self->*Field);
}
template <float CInstance::*Field>
bool IV_SetFloat(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->*Field = BV_Float(value);
    return true;
}
template <int32_t CInstance::*Field>
bool IV_GetInt(CInstance* self, int32_t, RValue* out)
{
    return self && BV_Out(out, self->*Field);
}
template <int32_t CInstance::*Field>
bool IV_SetIntViaFloat(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->*Field = BV_IntViaFloat(value);
    return true;
}
template <bool CInstance::*Field>
bool IV_GetBool(CInstance* self, int32_t, RValue* out)
{
    return self && BV_Out(out, self->*Field ? 1.0 : 0.0);
}
template <bool CInstance::*Field>
bool IV_SetRule1(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->*Field = BV_Rule1(value);
    return true;
}
template <bool CInstance::*Field>
bool IV_SetRule2(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->*Field = BV_Rule2(value);
    return true;
}
// A float field written through the instance's own setter.
template <void (CInstance::*Setter)(float)>
bool IV_SetThrough(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    (self->*Setter)(BV_Float(value));
    return true;
}

// ---- fields whose write does more than store ----

bool IV_SetX(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->SetPosition(BV_Float(value), self->y);
    return true;
}
bool IV_SetY(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->SetPosition(self->x, BV_Float(value));
    return true;
}
bool IV_SetDirection(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->SetDirection(BV_Float(value));
    return true;
}

bool IV_GetAlarm(CInstance* self, int32_t index, RValue* out)
{
    return self && BV_Out(out, self->GetAlarm(BV_Index(index, INSTANCE_ALARM_COUNT)));
}
bool IV_SetAlarm(CInstance* self, int32_t index, RValue* value)
{
    if (!self) return false;
    self->SetAlarm(BV_Index(index, INSTANCE_ALARM_COUNT), BV_IntViaFloat(value));
    return true;
}

bool IV_SetDepth(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    const float depth = BV_Float(value);
    if (depth == self->depth && !std::isnan(depth)) return true;
    self->depth = depth;
    Layer_InstanceDepthChanged(Run_Room, self);
    g_DepthChangeList.AddUnique(self);
    return true;
}

template <int32_t BoundingBox::*Edge>
bool IV_GetBBox(CInstance* self, int32_t, RValue* out)
{
    if (!self) return false;
    if (self->bboxDirty) Compute_BoundingBox(self, true);
    return BV_Out(out, self->bbox.*Edge);
}

bool IV_SetSpriteIndex(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->SetSpriteIndex(RValue_ToInt32(value));
    return true;
}

bool IV_GetImageSingle(CInstance* self, int32_t, RValue* out)
{
    return self && BV_Out(out, self->imageSpeed == 0.0f ? double(self->imageIndex) : -1.0);
}
bool IV_SetImageSingle(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    const double v = BV_Real(value);
    if (v < 0.0) {
        self->imageSpeed = 1.0f;
    } else {
        self->imageIndex = float(v);
        self->imageSpeed = 0.0f;
    }
    return true;
}

bool IV_GetImageNumber(CInstance* self, int32_t, RValue* out) { return self && BV_Out(out, self->GetImageNumber()); }

// The sprite's size or origin times the scale; 0 without a sprite.
enum class IV_SpriteMeasure { Width, Height, XOffset, YOffset };
template <IV_SpriteMeasure M>
bool IV_GetSpriteMeasure(CInstance* self, int32_t, RValue* out)
{
    if (!self) return false;
    SpriteFacts facts{};
    if (!Sprite_Exists(self->spriteIndex) || !Sprite_GetFacts(self->spriteIndex, &facts)) return BV_Out(out, 0.0);
    switch (M) {
    case IV_SpriteMeasure::Width: return BV_Out(out, double(facts.width) * self->imageXScale);
    case IV_SpriteMeasure::Height: return BV_Out(out, double(facts.height) * self->imageYScale);
    case IV_SpriteMeasure::XOffset: return BV_Out(out, double(facts.xOrigin) * self->imageXScale);
    case IV_SpriteMeasure::YOffset: return BV_Out(out, double(facts.yOrigin) * self->imageYScale);
    }
    return BV_Out(out, 0.0);
}

bool IV_GetImageBlend(CInstance* self, int32_t, RValue* out) { return self && BV_Out(out, double(self->imageBlend)); }
bool IV_SetImageBlend(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->imageBlend = uint32_t(BV_IntViaFloat(value));
    return true;
}

bool IV_SetMaskIndex(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    self->SetMaskIndex(BV_IntViaFloat(value));
    return true;
}

// ---- global state listed among the instance variables ----

bool IV_GetAsyncLoad(CInstance*, int32_t, RValue* out) { return BV_Out(out, AsyncLoad); }
bool IV_GetIapData(CInstance*, int32_t, RValue* out) { return BV_Out(out, IAP_DataMap); }
bool IV_GetDisplayAA(CInstance*, int32_t, RValue* out) { return BV_Out(out, GR_D3D_SupportedAA()); }
bool IV_GetDeltaTime(CInstance*, int32_t, RValue* out) { return BV_Out(out, double(Step_Delta)); }
bool IV_GetWebGL(CInstance*, int32_t, RValue* out) { return BV_Out(out, 1.0); }

// ---- layer ----

bool IV_GetLayer(CInstance* self, int32_t, RValue* out)
{
    if (!self) return false;
    CLayer* layer = self->onLayer && Run_Room ? Layer_FindById(Run_Room, self->layerId) : nullptr;
    return BV_Out(out, layer && !Layer_IsDynamic(layer) ? self->layerId : -1);
}
bool IV_SetLayer(CInstance* self, int32_t, RValue* value)
{
    if (!self) return false;
    CRoom* room = Run_Room;
    if (room) Layer_RemoveInstance(room, self);
    self->layerId = Real_ToInt32(BV_Real(value));
    CLayer* layer = room ? Layer_FindById(room, self->layerId) : nullptr;
    if (layer) Layer_AddInstanceToLayer(room, layer, self);
    return true;
}

// ---- physics ----

constexpr double kPhysicsDegrees = 180.0 / 3.1415927410125732;

// The body, and for the (w) variables the room's world; false when either is missing.
CPhysicsObject* IV_Body(CInstance* self) { return self ? self->physicsObject : nullptr; }
CPhysicsWorld* IV_World() { return Run_Room ? Run_Room->physicsWorld : nullptr; }

// Frames per second of the physics variables: the frame timer's in newer-format games, else the room
// speed; never below 1, so a room speed of 0 cannot divide by 0.
double IV_StepRate()
{
    double rate = g_GameData.newMode ? FrameTimer_GetFPS(&g_GameTimer) : (Run_Room ? double(Run_Room->speed) : 30.0);
    return rate >= 1.0 ? rate : 1.0;
}

enum class IV_Phy {
    Rotation, PositionX, PositionY, AngularVelocity, VelocityX, VelocityY, SpeedX, SpeedY, AngularDamping,
    LinearDamping, Bullet, FixedRotation, Active, Mass, Inertia, ComX, ComY, Speed, Dynamic, Kinematic, Sleeping,
    PreviousX, PreviousY
};

template <IV_Phy V>
bool IV_GetPhysics(CInstance* self, int32_t, RValue* out)
{
    CPhysicsObject* object = IV_Body(self);
    if (!object) return false;
    const PhysicsBodyState& b = object->body;
    CPhysicsWorld* world = IV_World();
    const bool needsWorld = V == IV_Phy::PositionX || V == IV_Phy::PositionY || V == IV_Phy::VelocityX ||
                            V == IV_Phy::VelocityY || V == IV_Phy::SpeedX || V == IV_Phy::SpeedY ||
                            V == IV_Phy::Speed || V == IV_Phy::ComX || V == IV_Phy::ComY ||
                            V == IV_Phy::PreviousX || V == IV_Phy::PreviousY;
    if (needsWorld && !world) return false;
    const double scale = world ? double(world->pixelToMetre) : 1.0;
    switch (V) {
    case IV_Phy::Rotation: return BV_Out(out, double(b.angle) * kPhysicsDegrees);
    case IV_Phy::PositionX: return BV_Out(out, double(b.x) / scale);
    case IV_Phy::PositionY: return BV_Out(out, double(b.y) / scale);
    case IV_Phy::AngularVelocity: return BV_Out(out, double(b.angularVelocity) * kPhysicsDegrees);
    case IV_Phy::VelocityX: return BV_Out(out, double(b.linearVelocityX) / scale);
    case IV_Phy::VelocityY: return BV_Out(out, double(b.linearVelocityY) / scale);
    case IV_Phy::SpeedX: return BV_Out(out, double(b.linearVelocityX) / scale / IV_StepRate());
    case IV_Phy::SpeedY: return BV_Out(out, double(b.linearVelocityY) / scale / IV_StepRate());
    case IV_Phy::Speed: {
        const float sx = float(double(b.linearVelocityX) / scale / IV_StepRate());
        const float sy = float(double(b.linearVelocityY) / scale / IV_StepRate());
        return BV_Out(out, std::sqrt(sx * sx + sy * sy));
    }
    case IV_Phy::AngularDamping: return BV_Out(out, b.angularDamping);
    case IV_Phy::LinearDamping: return BV_Out(out, b.linearDamping);
    case IV_Phy::Bullet: return BV_Out(out, (b.flags & PhysicsBodyState::FLAG_BULLET) ? 1.0 : 0.0);
    case IV_Phy::FixedRotation: return BV_Out(out, (b.flags & PhysicsBodyState::FLAG_FIXED_ROTATION) ? 1.0 : 0.0);
    case IV_Phy::Active: return BV_Out(out, (b.flags & PhysicsBodyState::FLAG_ACTIVE) ? 1.0 : 0.0);
    case IV_Phy::Mass: return BV_Out(out, b.mass);
    case IV_Phy::Inertia:
        return BV_Out(out, double(b.inertia) + double(b.mass) * (double(b.localCentreX) * b.localCentreX +
                                                               double(b.localCentreY) * b.localCentreY));
    case IV_Phy::ComX: return BV_Out(out, double(b.worldCentreX) / scale);
    case IV_Phy::ComY: return BV_Out(out, double(b.worldCentreY) / scale);
    case IV_Phy::Dynamic: return BV_Out(out, b.type == PhysicsBodyState::TYPE_DYNAMIC ? 1.0 : 0.0);
    case IV_Phy::Kinematic: return BV_Out(out, b.type == PhysicsBodyState::TYPE_KINEMATIC ? 1.0 : 0.0);
    case IV_Phy::Sleeping: return BV_Out(out, (b.flags & PhysicsBodyState::FLAG_AWAKE) ? 0.0 : 1.0);
    case IV_Phy::PreviousX: return BV_Out(out, double(object->previousX) / scale);
    case IV_Phy::PreviousY: return BV_Out(out, double(object->previousY) / scale);
    }
    return false;
}

template <IV_Phy V>
bool IV_SetPhysics(CInstance* self, int32_t, RValue* value)
{
    CPhysicsObject* object = IV_Body(self);
    if (!object) return false;
    PhysicsBodyState& b = object->body;
    CPhysicsWorld* world = IV_World();
    const bool needsWorld = V == IV_Phy::PositionX || V == IV_Phy::PositionY || V == IV_Phy::VelocityX ||
                            V == IV_Phy::VelocityY || V == IV_Phy::SpeedX || V == IV_Phy::SpeedY;
    if (needsWorld && !world) return false;
    const double scale = world ? double(world->pixelToMetre) : 1.0;
    const double v = BV_Real(value);
    switch (V) {
    case IV_Phy::PositionX: object->SetPosition(float(v * scale), b.y); break;
    case IV_Phy::PositionY: object->SetPosition(b.x, float(v * scale)); break;
    case IV_Phy::Rotation: object->SetRotation(float(v)); break;
    case IV_Phy::AngularVelocity: object->SetAngularVelocity(float(v)); break;
    case IV_Phy::VelocityX: object->SetLinearVelocity(float(v * scale), b.linearVelocityY); break;
    case IV_Phy::VelocityY: object->SetLinearVelocity(b.linearVelocityX, float(v * scale)); break;
    case IV_Phy::SpeedX: object->SetLinearVelocity(float(v * scale * IV_StepRate()), b.linearVelocityY); break;
    case IV_Phy::SpeedY: object->SetLinearVelocity(b.linearVelocityX, float(v * scale * IV_StepRate())); break;
    case IV_Phy::AngularDamping: b.angularDamping = float(v); break;
    case IV_Phy::LinearDamping: b.linearDamping = float(v); break;
    case IV_Phy::Bullet:
        if (BV_Rule4(value)) b.flags |= PhysicsBodyState::FLAG_BULLET;
        else b.flags &= ~PhysicsBodyState::FLAG_BULLET;
        break;
    case IV_Phy::FixedRotation: object->SetFixedRotation(BV_Rule4(value)); break;
    case IV_Phy::Active: object->SetActive(BV_Rule4(value)); break;
    default: return false;
    }
    return true;
}

// Contact points of the current contact: the count, and point or normal n (the access's index).
bool IV_GetCollisionPoints(CInstance* self, int32_t, RValue* out)
{
    CPhysicsWorld* world = IV_World();
    return self && world && BV_Out(out, world->GetCollisionPointCount(self));
}
template <bool Normal, bool Y>
bool IV_GetContact(CInstance* self, int32_t index, RValue* out)
{
    CPhysicsWorld* world = IV_World();
    if (!self || !world) return false;
    float x = 0.0f, y = 0.0f;
    const bool found = Normal ? world->GetCollisionNormal(self, index, &x, &y) : world->GetCollisionPoint(self, index, &x, &y);
    return found && BV_Out(out, Y ? y : x);
}

}  // namespace

void InitInstanceVariables()
{
    const BV_Entry entries[] = {
        {"x", IV_GetFloat<&CInstance::x>, IV_SetX},
        {"y", IV_GetFloat<&CInstance::y>, IV_SetY},
        {"xprevious", IV_GetFloat<&CInstance::xprevious>, IV_SetFloat<&CInstance::xprevious>},
        {"yprevious", IV_GetFloat<&CInstance::yprevious>, IV_SetFloat<&CInstance::yprevious>},
        {"xstart", IV_GetFloat<&CInstance::xstart>, IV_SetFloat<&CInstance::xstart>},
        {"ystart", IV_GetFloat<&CInstance::ystart>, IV_SetFloat<&CInstance::ystart>},
        {"hspeed", IV_GetFloat<&CInstance::hspeed>, IV_SetThrough<&CInstance::SetHSpeed>},
        {"vspeed", IV_GetFloat<&CInstance::vspeed>, IV_SetThrough<&CInstance::SetVSpeed>},
        {"direction", IV_GetFloat<&CInstance::direction>, IV_SetDirection},
        {"speed", IV_GetFloat<&CInstance::speed>, IV_SetThrough<&CInstance::SetSpeed>},
        {"friction", IV_GetFloat<&CInstance::friction>, IV_SetFloat<&CInstance::friction>},
        {"gravity", IV_GetFloat<&CInstance::gravity>, IV_SetFloat<&CInstance::gravity>},
        {"gravity_direction", IV_GetFloat<&CInstance::gravityDirection>, IV_SetFloat<&CInstance::gravityDirection>},
        {"object_index", IV_GetInt<&CInstance::objectIndex>, nullptr},
        {"id", IV_GetInt<&CInstance::id>, nullptr},
        {"alarm", IV_GetAlarm, IV_SetAlarm},
        {"solid", IV_GetBool<&CInstance::solid>, IV_SetRule2<&CInstance::solid>},
        {"visible", IV_GetBool<&CInstance::visible>, IV_SetRule2<&CInstance::visible>},
        {"persistent", IV_GetBool<&CInstance::persistent>, IV_SetRule2<&CInstance::persistent>},
        {"depth", IV_GetFloat<&CInstance::depth>, IV_SetDepth},
        {"bbox_left", IV_GetBBox<&BoundingBox::left>, nullptr},
        {"bbox_right", IV_GetBBox<&BoundingBox::right>, nullptr},
        {"bbox_top", IV_GetBBox<&BoundingBox::top>, nullptr},
        {"bbox_bottom", IV_GetBBox<&BoundingBox::bottom>, nullptr},
        {"sprite_index", IV_GetInt<&CInstance::spriteIndex>, IV_SetSpriteIndex},
        {"image_index", IV_GetFloat<&CInstance::imageIndex>, IV_SetFloat<&CInstance::imageIndex>},
        {"image_single", IV_GetImageSingle, IV_SetImageSingle},
        {"image_number", IV_GetImageNumber, nullptr},
        {"sprite_width", IV_GetSpriteMeasure<IV_SpriteMeasure::Width>, nullptr},
        {"sprite_height", IV_GetSpriteMeasure<IV_SpriteMeasure::Height>, nullptr},
        {"sprite_xoffset", IV_GetSpriteMeasure<IV_SpriteMeasure::XOffset>, nullptr},
        {"sprite_yoffset", IV_GetSpriteMeasure<IV_SpriteMeasure::YOffset>, nullptr},
        {"image_xscale", IV_GetFloat<&CInstance::imageXScale>, IV_SetThrough<&CInstance::SetImageXScale>},
        {"image_yscale", IV_GetFloat<&CInstance::imageYScale>, IV_SetThrough<&CInstance::SetImageYScale>},
        {"image_angle", IV_GetFloat<&CInstance::imageAngle>, IV_SetThrough<&CInstance::SetImageAngle>},
        {"image_alpha", IV_GetFloat<&CInstance::imageAlpha>, IV_SetFloat<&CInstance::imageAlpha>},
        {"image_blend", IV_GetImageBlend, IV_SetImageBlend},
        {"image_speed", IV_GetFloat<&CInstance::imageSpeed>, IV_SetFloat<&CInstance::imageSpeed>},
        {"mask_index", IV_GetInt<&CInstance::maskIndex>, IV_SetMaskIndex},
        {"path_index", IV_GetInt<&CInstance::pathIndex>, nullptr},
        {"path_position", IV_GetFloat<&CInstance::pathPosition>, IV_SetThrough<&CInstance::SetPathPosition>},
        {"path_positionprevious", IV_GetFloat<&CInstance::pathPositionPrevious>,
         IV_SetThrough<&CInstance::SetPathPositionPrevious>},
        {"path_speed", IV_GetFloat<&CInstance::pathSpeed>, IV_SetThrough<&CInstance::SetPathSpeed>},
        {"path_scale", IV_GetFloat<&CInstance::pathScale>, IV_SetFloat<&CInstance::pathScale>},
        {"path_orientation", IV_GetFloat<&CInstance::pathOrientation>, IV_SetFloat<&CInstance::pathOrientation>},
        {"path_endaction", IV_GetInt<&CInstance::pathEndAction>, IV_SetIntViaFloat<&CInstance::pathEndAction>},
        {"timeline_index", IV_GetInt<&CInstance::timelineIndex>, IV_SetIntViaFloat<&CInstance::timelineIndex>},
        {"timeline_position", IV_GetFloat<&CInstance::timelinePosition>, IV_SetFloat<&CInstance::timelinePosition>},
        {"timeline_speed", IV_GetFloat<&CInstance::timelineSpeed>, IV_SetFloat<&CInstance::timelineSpeed>},
        {"timeline_running", IV_GetBool<&CInstance::timelineRunning>, IV_SetRule1<&CInstance::timelineRunning>},
        {"timeline_loop", IV_GetBool<&CInstance::timelineLoop>, IV_SetRule1<&CInstance::timelineLoop>},
        {"async_load", IV_GetAsyncLoad, nullptr},
        {"iap_data", IV_GetIapData, nullptr},
        {"phy_rotation", IV_GetPhysics<IV_Phy::Rotation>, IV_SetPhysics<IV_Phy::Rotation>},
        {"phy_position_x", IV_GetPhysics<IV_Phy::PositionX>, IV_SetPhysics<IV_Phy::PositionX>},
        {"phy_position_y", IV_GetPhysics<IV_Phy::PositionY>, IV_SetPhysics<IV_Phy::PositionY>},
        {"phy_angular_velocity", IV_GetPhysics<IV_Phy::AngularVelocity>, IV_SetPhysics<IV_Phy::AngularVelocity>},
        {"phy_linear_velocity_x", IV_GetPhysics<IV_Phy::VelocityX>, IV_SetPhysics<IV_Phy::VelocityX>},
        {"phy_linear_velocity_y", IV_GetPhysics<IV_Phy::VelocityY>, IV_SetPhysics<IV_Phy::VelocityY>},
        {"phy_speed_x", IV_GetPhysics<IV_Phy::SpeedX>, IV_SetPhysics<IV_Phy::SpeedX>},
        {"phy_speed_y", IV_GetPhysics<IV_Phy::SpeedY>, IV_SetPhysics<IV_Phy::SpeedY>},
        {"phy_angular_damping", IV_GetPhysics<IV_Phy::AngularDamping>, IV_SetPhysics<IV_Phy::AngularDamping>},
        {"phy_linear_damping", IV_GetPhysics<IV_Phy::LinearDamping>, IV_SetPhysics<IV_Phy::LinearDamping>},
        {"phy_bullet", IV_GetPhysics<IV_Phy::Bullet>, IV_SetPhysics<IV_Phy::Bullet>},
        {"phy_fixed_rotation", IV_GetPhysics<IV_Phy::FixedRotation>, IV_SetPhysics<IV_Phy::FixedRotation>},
        {"phy_active", IV_GetPhysics<IV_Phy::Active>, IV_SetPhysics<IV_Phy::Active>},
        {"phy_mass", IV_GetPhysics<IV_Phy::Mass>, nullptr},
        {"phy_inertia", IV_GetPhysics<IV_Phy::Inertia>, nullptr},
        {"phy_com_x", IV_GetPhysics<IV_Phy::ComX>, nullptr},
        {"phy_com_y", IV_GetPhysics<IV_Phy::ComY>, nullptr},
        {"phy_speed", IV_GetPhysics<IV_Phy::Speed>, nullptr},
        {"phy_dynamic", IV_GetPhysics<IV_Phy::Dynamic>, nullptr},
        {"phy_kinematic", IV_GetPhysics<IV_Phy::Kinematic>, nullptr},
        {"phy_sleeping", IV_GetPhysics<IV_Phy::Sleeping>, nullptr},
        {"phy_position_xprevious", IV_GetPhysics<IV_Phy::PreviousX>, nullptr},
        {"phy_position_yprevious", IV_GetPhysics<IV_Phy::PreviousY>, nullptr},
        {"phy_collision_points", IV_GetCollisionPoints, nullptr},
        {"phy_collision_x", IV_GetContact<false, false>, nullptr},
        {"phy_collision_y", IV_GetContact<false, true>, nullptr},
        {"phy_col_normal_x", IV_GetContact<true, false>, nullptr},
        {"phy_col_normal_y", IV_GetContact<true, true>, nullptr},
        {"display_aa", IV_GetDisplayAA, nullptr},
        {"delta_time", IV_GetDeltaTime, nullptr},
        {"webgl_enabled", IV_GetWebGL, nullptr},
        {"layer", IV_GetLayer, IV_SetLayer},
    };
    for (const BV_Entry& e : entries) Variable_BuiltIn_Add(e.name, e.getter, e.setter);
}
