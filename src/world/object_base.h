// The record behind every script object: numbered slots, optional named variables, its object-table index.
#pragma once
#include <cstdint>

struct QZObjectBase;

// A new (or pooled) object with slotCount slots whose kind words start as defaultKind.
QZObjectBase* ObjectBase_Alloc(int32_t slotCount, int32_t defaultKind, bool withSlots);
void ObjectBase_Free(QZObjectBase* object);
