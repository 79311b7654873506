// Particles: the operations the rest of the runtime calls.
#pragma once

void Particle_Reset();         // early initialisation
void Particle_InitTextures();  // the shape textures, once the device exists
void Particle_Quit();          // shutdown
void ParticleSystem_UpdateAll();  // end of the update phase
// Room start and end: the particle systems join and leave the room's layers.
void ParticleSystem_AddLayerElements();
void ParticleSystem_RemoveLayerElements();
void Effect_Clear();  // room start
void InitParticleFunctions();
