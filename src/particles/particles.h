// Particles: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

void Particle_Reset();         // early initialisation
void Particle_InitTextures();  // the shape textures, once the device exists
void Particle_Quit();          // shutdown
void ParticleSystem_UpdateAll();  // end of the update phase
// Room start and end: the particle systems join and leave the room's layers.
void ParticleSystem_AddLayerElements();
void ParticleSystem_RemoveLayerElements();
void Effect_Clear();  // room start
void InitParticleFunctions();

// Drawing by depth: the room drawing interleaves particle systems with the legacy depth order. Until
// particles exist there are no systems: the highest depth is -1e9 and the next depth below is -1e9 too.
float ParticleSystem_HighestDepth();
float ParticleSystem_NextDepthBelow(float depth);
void ParticleSystem_DrawAtDepth(float depth);  // systems within 0.01 of depth
void ParticleSystem_DrawLayerElement(int32_t system);
