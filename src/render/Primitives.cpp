#include <stdexcept>

#include "physics/Physics.hpp"
#include "render/Renderer.hpp"

namespace zarn {

namespace {

Color scaled(const Color& color, float factor) {
    return {color.r * factor, color.g * factor, color.b * factor};
}

// The corners of an oriented box taken four at a time, each face in order around it, with the face's
// outward axis (index into the box axes, sign) and shading. Faces appear in drawing order.
struct Face {
    std::array<int, 4> corners;
    int axis;
    double sign;
    float shade;
};

constexpr std::array<Face, 6> matterFaces{{
    {{0, 2, 3, 1}, 2, -1.0, 0.8f}, // -z
    {{4, 5, 7, 6}, 2, 1.0, 0.7f},  // +z
    {{0, 4, 6, 2}, 0, -1.0, 0.6f}, // -x
    {{1, 3, 7, 5}, 0, 1.0, 0.9f},  // +x
    {{2, 6, 7, 3}, 1, 1.0, 1.0f},  // +y
    {{0, 1, 5, 4}, 1, -1.0, 0.5f}, // -y
}};

// Axis-aligned boxes (enemies, supplies, rockets) are shaded a little differently on +z and -x.
constexpr std::array<float, 6> boxShades{0.8f, 0.64f, 0.58f, 0.9f, 1.0f, 0.5f};

} // namespace

Float3 narrowed(const Vec3& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

Color colorOf(const Vec3& rgb) {
    return {static_cast<float>(rgb.x), static_cast<float>(rgb.y), static_cast<float>(rgb.z)};
}

Renderer::~Renderer() {
    if (backend) {
        for (StaticChunk& chunk : chunks) {
            if (chunk.buffer != nullptr) {
                backend->releaseBuffer(chunk.buffer);
                chunk.buffer = nullptr;
            }
        }
        if (starBuffer != nullptr) {
            backend->releaseBuffer(starBuffer);
            starBuffer = nullptr;
        }
    }
    backend.reset();
}

void Renderer::resize(std::int32_t newWidth, std::int32_t newHeight) {
    if (!backend || newWidth < 1 || newHeight < 1) {
        return;
    }
    width = newWidth;
    height = newHeight;
    backend->resize(newWidth, newHeight);
}

void Renderer::append(const Vec3& point, const Color& color) {
    // Relative to the origin in double precision first, so geometry far from the world's origin keeps
    // its precision near the camera.
    const Vertex vertex{narrowed(point - origin), {color.r, color.g, color.b}, indoor, narrowed(normal)};
    (capturing ? staticVertices : vertices).push_back(vertex);
}

void Renderer::triangle(const Vec3& a, const Vec3& b, const Vec3& c, const Color& color) {
    append(a, color);
    append(b, color);
    append(c, color);
}

void Renderer::quad(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d, const Color& color) {
    triangle(a, b, c, color);
    triangle(a, c, d, color);
}

void Renderer::box(const Vec3& center, const Vec3& size, const Color& color) {
    const Vec3 lo = center - size / 2.0;
    const Vec3 hi = center + size / 2.0;
    std::array<Vec3, 8> corners;
    for (int i = 0; i < 8; ++i) {
        corners[static_cast<std::size_t>(i)] = {(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y,
                                                (i & 4) ? hi.z : lo.z};
    }
    for (std::size_t f = 0; f < matterFaces.size(); ++f) {
        const std::array<int, 4>& k = matterFaces[f].corners;
        quad(corners[static_cast<std::size_t>(k[0])], corners[static_cast<std::size_t>(k[1])],
             corners[static_cast<std::size_t>(k[2])], corners[static_cast<std::size_t>(k[3])],
             scaled(color, boxShades[f]));
    }
}

void Renderer::beam(const Vec3& from, const Vec3& to, double width, const Color& color) {
    const Vec3 d = to - from;
    // Across the beam in the horizontal plane; a vertical beam has no width.
    const Vec3 s = normalized(Vec3{-d.z, 0.0, d.x}) * width;
    triangle(from - s, from + s, to + s, color);
    triangle(from - s, to + s, to - s, color);
}

void Renderer::orientedBox(const std::array<Vec3, 8>& corners, const std::array<Vec3, 3>& axes,
                           const Color& color) {
    for (const Face& face : matterFaces) {
        normal = axes[static_cast<std::size_t>(face.axis)] * face.sign;
        quad(corners[static_cast<std::size_t>(face.corners[0])],
             corners[static_cast<std::size_t>(face.corners[1])],
             corners[static_cast<std::size_t>(face.corners[2])],
             corners[static_cast<std::size_t>(face.corners[3])], scaled(color, face.shade));
    }
}

void Renderer::matterMesh(const MatterPiece& piece) {
    indoor = piece.indoor ? lighting::indoor : lighting::outdoor;
    const std::array<Vec3, 3> axes = piece.body.axes();
    const Color color = colorOf(piece.color);
    orientedBox(piece.body.vertices(axes), axes, color);
    indoor = lighting::outdoor;
}

bool Renderer::isStatic(const MatterPiece& piece, const Physics& physics) const {
    if (!piece.alive) {
        return false;
    }
    if (piece.assembly < 0) {
        return true;
    }
    const auto index = static_cast<std::size_t>(piece.assembly);
    // A piece pointing past the assembly list is no part of a sleeping group: draw it as moving.
    return index < physics.assemblies.size() && physics.assemblies[index].asleep;
}

void Renderer::submit() {
    if (vertices.empty()) {
        return;
    }
    if (vertices.size() * sizeof(Vertex) > vertexBufferBytes) {
        throw std::runtime_error("Geometry budget exceeded");
    }
    if (backend) {
        backend->draw(vertices);
    }
    vertices.clear();
}

} // namespace zarn
