#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "physics/Math.hpp"
#include "render/Vertex.hpp"

namespace zarn {

// A vertex buffer that lives on the device (a static chunk, the star background). The backend that
// made it is the only one that looks inside.
struct GpuBuffer;

// The pixel shader of the 3D passes.
enum class PixelProgram {
    plain, // PS: fog by distance
    earth, // EarthPS: fog for near and far, logarithmic depth written per pixel
};

// One frame read back from the device: rows top to bottom, four bytes a pixel (R, G, B, A), each row
// starting pitch bytes after the one before.
struct FrameImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t pitch = 0;
    std::vector<std::uint8_t> pixels;
};

// What the renderer asks of the graphics device. The renderer decides what is drawn, with which camera
// and in which order; the backend carries it out. The Direct3D 11 backend is the game's; native tests
// plug in a recorder. Every failure is thrown as std::runtime_error.
class RenderBackend {
  public:
    virtual ~RenderBackend() = default;

    // The targets were resized to width x height (both at least 1).
    virtual void resize(std::int32_t width, std::int32_t height) = 0;
    // Clears the target to the sky colour and the depth to 1, and binds the states, shaders and
    // camera slots of a 3D pass with the given pixel shader.
    virtual void beginFrame(const Vec3& skyColor, PixelProgram program) = 0;
    // Writes the camera constants; what names the upload in a failure message.
    virtual void uploadCamera(const Camera& camera, const char* what) = 0;
    virtual void usePixelProgram(PixelProgram program) = 0;
    virtual void clearDepth() = 0;
    // Depth test and writes on (the default) or off (sun disc, star background).
    virtual void setDepthTest(bool on) = 0;
    // Uploads the list into the dynamic vertex buffer and draws it as a triangle list.
    virtual void draw(std::span<const Vertex> vertices) = 0;
    // An immutable vertex buffer holding the vertices (never empty); what names it in a failure.
    virtual GpuBuffer* createBuffer(std::span<const Vertex> vertices, const char* what) = 0;
    virtual void releaseBuffer(GpuBuffer* buffer) = 0;
    virtual void drawBuffer(GpuBuffer* buffer, std::uint32_t count) = 0;
    // Blends the HUD canvas over the frame: 1280 x 720 pixels, rows top to bottom, bytes B, G, R, A;
    // empty for a blank canvas.
    virtual void compositeHud(std::span<const std::uint32_t> pixels) = 0;
    // Copies the frame as drawn so far; the next readFrame answers that copy. Called before
    // presenting a frame that is to be captured: after presenting, the back buffer is not that frame.
    virtual void keepFrame() = 0;
    // Shows the frame.
    virtual void present() = 0;
    // Reads the kept frame, or the back buffer when no frame was kept; false when the device fails.
    virtual bool readFrame(FrameImage& image) = 0;
};

} // namespace zarn
