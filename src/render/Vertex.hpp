#pragma once

#include <cstddef>

namespace zarn {

// Three f32 components: positions, colours and normals as the device reads them.
struct Float3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    friend constexpr bool operator==(const Float3&, const Float3&) = default;
};

// The colour argument of the primitives: linear RGB, 0..1.
struct Color {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    friend constexpr bool operator==(const Color&, const Color&) = default;
};

// One vertex of the 3D view, 40 bytes as the input layout reads them: position (relative to the
// frame's origin), colour, lighting class and face normal.
//
// Lighting classes: 0 outdoor light, 1 indoor light (values between blend the two; above 0.5 no fog),
// 2 unlit, 3 unlit and raised to at least the fog colour (sky points).
struct Vertex {
    Float3 position;
    Float3 color;
    float indoor = 0.0f;
    Float3 normal;
};
static_assert(sizeof(Vertex) == 40);
static_assert(offsetof(Vertex, color) == 12);
static_assert(offsetof(Vertex, indoor) == 24);
static_assert(offsetof(Vertex, normal) == 28);

namespace lighting {
constexpr float outdoor = 0.0f;
constexpr float indoor = 1.0f;
constexpr float unlit = 2.0f;
constexpr float skyPoint = 3.0f;
} // namespace lighting

// Four f32 components: one register of the camera constants.
struct Float4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;
    friend constexpr bool operator==(const Float4&, const Float4&) = default;
};

// The shader's constant buffer Camera (register b0): eleven float4 values, 176 bytes. Vectors are in
// the frame's coordinates (world minus the renderer's origin).
struct Camera {
    Float4 eye;            // xyz: camera position
    Float4 right;          // xyz: unit right vector
    Float4 up;             // xyz: unit up vector
    Float4 forward;        // xyz: unit view direction
    Float4 projection;     // x: focal scale, y: aspect ratio, z: logarithmic depth when above 0.5
    Float4 outdoorLight;   // xyz: RGB multiplier of outdoor vertices (ambient under star light)
    Float4 indoorLight;    // xyz: RGB multiplier of indoor vertices
    Float4 fogColor;       // xyz: fog colour, the sky
    Float4 starLight;      // xyz: unit direction to the light; w: star lighting when above 0.5
    Float4 starSphere;     // xyz: centre of the shadowing sphere; w: its radius
    Float4 starParameters; // x: direct light, y: fog factor under star light, z: sky point brightness
    friend constexpr bool operator==(const Camera&, const Camera&) = default;
};
static_assert(sizeof(Camera) == 176);

} // namespace zarn
