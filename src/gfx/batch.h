// The vertex batcher: draws are gathered and sent to the device in batches.
#pragma once

// Draws the pending batch and sends the dirty render state to the device.
void GraphicsFlush();
// The frame's end: the batch's vertex buffers start over.
void GR_Batch_EndFrame();
// Shutdown: the batch's device buffers.
void GR_Batch_FreeAll();
