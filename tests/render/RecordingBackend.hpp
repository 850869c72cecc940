#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "render/Renderer.hpp"

namespace zarn::test {

// What a recording backend saw. It outlives the renderer that owns the backend, so tests can look at
// the releases the renderer's destructor made.
struct DeviceLog {
    std::vector<std::string> calls; // in order: "begin", "camera <what>", "draw <n>", "buffer <id> <n>", ...
    std::vector<Camera> cameras;
    std::vector<std::vector<Vertex>> draws;             // each dynamic upload
    std::map<std::uintptr_t, std::vector<Vertex>> live; // buffers not yet released, by id
    std::uintptr_t nextBuffer = 1;
    std::size_t created = 0;
    std::size_t released = 0;
    std::size_t reads = 0;
    std::vector<std::uint32_t> hud; // the HUD canvas of the last composite; empty when it was blank
    FrameImage frame;               // what readFrame answers
    bool readable = true;           // readFrame succeeds
    PixelProgram program = PixelProgram::plain;
    bool depthTest = true;

    std::size_t count(const std::string& call) const {
        std::size_t n = 0;
        for (const std::string& c : calls) {
            n += c == call ? 1 : 0;
        }
        return n;
    }
};

class RecordingBackend final : public RenderBackend {
  public:
    explicit RecordingBackend(DeviceLog& log) : log(log) {}

    void resize(std::int32_t width, std::int32_t height) override {
        log.calls.push_back("resize " + std::to_string(width) + "x" + std::to_string(height));
    }
    void beginFrame(const Vec3&, PixelProgram program) override {
        log.program = program;
        log.calls.push_back("begin");
    }
    void uploadCamera(const Camera& camera, const char* what) override {
        log.cameras.push_back(camera);
        log.calls.push_back(std::string("camera ") + what);
    }
    void usePixelProgram(PixelProgram program) override {
        log.program = program;
        log.calls.push_back("program");
    }
    void clearDepth() override { log.calls.push_back("clear depth"); }
    void setDepthTest(bool on) override {
        log.depthTest = on;
        log.calls.push_back(on ? "depth on" : "depth off");
    }
    void draw(std::span<const Vertex> vertices) override {
        log.draws.emplace_back(vertices.begin(), vertices.end());
        log.calls.push_back("draw " + std::to_string(vertices.size()));
    }
    GpuBuffer* createBuffer(std::span<const Vertex> vertices, const char*) override {
        const std::uintptr_t id = log.nextBuffer++;
        log.live[id].assign(vertices.begin(), vertices.end());
        ++log.created;
        log.calls.push_back("create " + std::to_string(id) + " " + std::to_string(vertices.size()));
        return reinterpret_cast<GpuBuffer*>(id);
    }
    void releaseBuffer(GpuBuffer* buffer) override {
        const auto id = reinterpret_cast<std::uintptr_t>(buffer);
        log.live.erase(id);
        ++log.released;
        log.calls.push_back("release " + std::to_string(id));
    }
    void drawBuffer(GpuBuffer* buffer, std::uint32_t count) override {
        log.calls.push_back("buffer " + std::to_string(reinterpret_cast<std::uintptr_t>(buffer)) + " " +
                            std::to_string(count));
    }
    void compositeHud(std::span<const std::uint32_t> pixels) override {
        log.hud.assign(pixels.begin(), pixels.end());
        log.calls.push_back("hud");
    }
    void keepFrame() override { log.calls.push_back("keep"); }
    void present() override { log.calls.push_back("present"); }
    bool readFrame(FrameImage& image) override {
        ++log.reads;
        if (!log.readable) {
            return false;
        }
        image = log.frame;
        return true;
    }

  private:
    DeviceLog& log;
};

// A renderer of a 1280 x 720 window drawing on a recording backend.
inline void attachRecorder(Renderer& renderer, DeviceLog& log) {
    renderer.backend = std::make_unique<RecordingBackend>(log);
    renderer.width = 1280;
    renderer.height = 720;
}

} // namespace zarn::test
