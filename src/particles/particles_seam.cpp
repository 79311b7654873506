// Until the particle subsystem exists: no systems, no effects.
#include "particles/particles.h"

#include "core/seam_trace.h"

void Particle_Reset() { SeamTrace_Record("Particle_Reset"); }
void Particle_InitTextures() { SeamTrace_Record("Particle_InitTextures"); }
void Particle_Quit() { SeamTrace_Record("Particle_Quit"); }
void ParticleSystem_UpdateAll() { SeamTrace_Record("ParticleSystem_UpdateAll"); }
void ParticleSystem_AddLayerElements() { SeamTrace_Record("ParticleSystem_AddLayerElements"); }
void ParticleSystem_RemoveLayerElements() { SeamTrace_Record("ParticleSystem_RemoveLayerElements"); }
void Effect_Clear() { SeamTrace_Record("Effect_Clear"); }
void InitParticleFunctions() { SeamTrace_Record("InitParticleFunctions"); }

float ParticleSystem_HighestDepth() { return -1e9f; }
float ParticleSystem_NextDepthBelow(float) { return -1e9f; }
void ParticleSystem_DrawAtDepth(float) { SeamTrace_Record("ParticleSystem_DrawAtDepth"); }
void ParticleSystem_DrawLayerElement(int32_t) { SeamTrace_Record("ParticleSystem_DrawLayerElement"); }
