// Stand-in until the script-object base is built: records what was asked for and hands out placeholders.
#include "world/object_base.h"

#include "core/seam_trace.h"
#include "world/object_base_standin.h"



ObjectBaseStandin g_ObjectBaseStandin = {};

namespace {
// Distinct non-null addresses that nothing dereferences.
unsigned char g_objectPlaceholders[64];
}  // namespace

QZObjectBase* ObjectBase_Alloc(int32_t slotCount, int32_t defaultKind, bool withSlots)
{
    SeamTrace_Record("ObjectBase_Alloc");
    g_ObjectBaseStandin.allocCount++;
    g_ObjectBaseStandin.lastSlotCount = slotCount;
    g_ObjectBaseStandin.lastDefaultKind = defaultKind;
    g_ObjectBaseStandin.lastWithSlots = withSlots;
    return reinterpret_cast<QZObjectBase*>(&g_objectPlaceholders[g_ObjectBaseStandin.allocCount % 64]);
}

void ObjectBase_Free(QZObjectBase*)
{
    SeamTrace_Record("ObjectBase_Free");
    g_ObjectBaseStandin.freeCount++;
}
