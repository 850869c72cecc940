#pragma once

namespace zarn {

// The embedded HLSL program: one text compiled once for each entry point, VS, PS and EarthPS for the
// 3D view (shader model 4.0), HUDVS and HUDPS for the HUD canvas. Its constant buffer is Camera
// (register b0), its vertex input the 40-byte Vertex.
extern const char* const shaderProgram;

} // namespace zarn
