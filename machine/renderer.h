// Drawing into the frame buffer: one background line at a time, all sprites once per frame.
#pragma once

namespace vexalo {

struct Machine;

void RenderBackgroundLine(Machine& m, int line);
void RenderSprites(Machine& m, int first);
void ComputeSprite0Line(Machine& m);

}  // namespace vexalo
