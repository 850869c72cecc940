#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

#include "physics/Physics.hpp"
#include "render/RecordingBackend.hpp"
#include "render/Renderer.hpp"

namespace zarn {
namespace {

Vec3 widened(const Float3& f) {
    return {f.x, f.y, f.z};
}

bool sameColor(const Float3& c, const Color& expected, float factor) {
    return std::abs(c.x - expected.r * factor) < 1e-6f && std::abs(c.y - expected.g * factor) < 1e-6f &&
           std::abs(c.z - expected.b * factor) < 1e-6f;
}

TEST(PrimitivesTest, VerticesCarryTheCurrentStateRelativeToTheOrigin) {
    Renderer renderer;
    // Far from the world's origin, positions near the camera keep centimetre precision.
    renderer.origin = {6371000.0, -2.5, 1e7};
    renderer.normal = {0.0, 0.0, -1.0};
    renderer.indoor = lighting::unlit;
    const Color red{1.0f, 0.0f, 0.0f};
    renderer.triangle({6371000.01, -2.5, 1e7}, {6371001.0, 0.0, 1e7 + 0.02}, {6371000.0, -1.5, 1e7}, red);
    ASSERT_EQ(renderer.vertices.size(), 3u);
    EXPECT_EQ(renderer.vertices[0].position, (Float3{0.01f, 0.0f, 0.0f}));
    EXPECT_EQ(renderer.vertices[1].position, (Float3{1.0f, 2.5f, 0.02f}));
    EXPECT_EQ(renderer.vertices[2].position, (Float3{0.0f, 1.0f, 0.0f}));
    for (const Vertex& v : renderer.vertices) {
        EXPECT_EQ(v.color, (Float3{1.0f, 0.0f, 0.0f}));
        EXPECT_EQ(v.indoor, 2.0f);
        EXPECT_EQ(v.normal, (Float3{0.0f, 0.0f, -1.0f}));
    }

    // A quad is (a, b, c) and (a, c, d); while capturing, vertices go to the static list.
    renderer.origin = {};
    renderer.vertices.clear();
    renderer.capturing = true;
    renderer.quad({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, red);
    EXPECT_TRUE(renderer.vertices.empty());
    ASSERT_EQ(renderer.staticVertices.size(), 6u);
    const Float3 expected[6] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(renderer.staticVertices[static_cast<std::size_t>(i)].position, expected[i]) << i;
    }
}

TEST(PrimitivesTest, BoxFacesAreShadedByDirection) {
    Renderer renderer;
    renderer.normal = {0.0, 1.0, 0.0};
    const Color color{0.5f, 0.6f, 1.0f};
    const Vec3 center{10.0, 2.0, -4.0};
    renderer.box(center, {2.0, 4.0, 6.0}, color);
    ASSERT_EQ(renderer.vertices.size(), 36u);
    // Face order -z, +z, -x, +x, +y, -y; every vertex of a face lies on its plane.
    struct Expected {
        int axis;
        double plane;
        float shade;
    };
    const Expected faces[6] = {{2, -7.0, 0.8f}, {2, -1.0, 0.64f}, {0, 9.0, 0.58f},
                               {0, 11.0, 0.9f}, {1, 4.0, 1.0f},   {1, 0.0, 0.5f}};
    for (std::size_t f = 0; f < 6; ++f) {
        for (std::size_t k = 0; k < 6; ++k) {
            const Vertex& v = renderer.vertices[f * 6 + k];
            const Vec3 p = widened(v.position);
            EXPECT_EQ(p[faces[f].axis], faces[f].plane) << "face " << f;
            EXPECT_GE(p.x, 9.0);
            EXPECT_LE(p.x, 11.0);
            EXPECT_GE(p.y, 0.0);
            EXPECT_LE(p.y, 4.0);
            EXPECT_TRUE(sameColor(v.color, color, faces[f].shade)) << "face " << f;
            EXPECT_EQ(v.normal, (Float3{0.0f, 1.0f, 0.0f})); // the box sets no normal
        }
    }
}

TEST(PrimitivesTest, BeamIsAFlatRibbonAcrossItsDirection) {
    Renderer renderer;
    const Color yellow{1.0f, 0.81f, 0.35f};
    renderer.beam({0, 1, 0}, {10, 1, 0}, 0.5, yellow);
    ASSERT_EQ(renderer.vertices.size(), 6u);
    const Float3 expected[6] = {{0, 1, -0.5f}, {0, 1, 0.5f},  {10, 1, 0.5f},
                                {0, 1, -0.5f}, {10, 1, 0.5f}, {10, 1, -0.5f}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(renderer.vertices[static_cast<std::size_t>(i)].position, expected[i]) << i;
    }

    // Straight up: no width, two degenerate triangles on the line.
    renderer.vertices.clear();
    renderer.beam({3, 0, 4}, {3, 9, 4}, 0.5, yellow);
    ASSERT_EQ(renderer.vertices.size(), 6u);
    for (const Vertex& v : renderer.vertices) {
        EXPECT_EQ(v.position.x, 3.0f);
        EXPECT_EQ(v.position.z, 4.0f);
    }
}

TEST(PrimitivesTest, MatterMeshLightsByTheIndoorFlagAndLeavesTheClassOutdoor) {
    Renderer renderer;
    MatterPiece piece;
    piece.body.center = {1.0, 2.0, 3.0};
    piece.body.halfExtents = {0.5, 1.0, 1.5};
    piece.body.orientation = {std::cos(0.3), 0.0, std::sin(0.3), 0.0}; // 0.6 rad about y
    piece.color = {0.5, 0.25, 1.0};
    piece.indoor = true;

    renderer.indoor = lighting::unlit;
    renderer.matterMesh(piece);
    EXPECT_EQ(renderer.indoor, lighting::outdoor); // reset after every piece
    ASSERT_EQ(renderer.vertices.size(), 36u);

    const std::array<Vec3, 3> axes = piece.body.axes();
    const int axisOf[6] = {2, 2, 0, 0, 1, 1};
    const double signOf[6] = {-1, 1, -1, 1, 1, -1};
    const float shadeOf[6] = {0.8f, 0.7f, 0.6f, 0.9f, 1.0f, 0.5f};
    const Color color{0.5f, 0.25f, 1.0f};
    for (std::size_t f = 0; f < 6; ++f) {
        const Vec3 n = axes[static_cast<std::size_t>(axisOf[f])] * signOf[f];
        const double h = piece.body.halfExtents[axisOf[f]];
        for (std::size_t k = 0; k < 6; ++k) {
            const Vertex& v = renderer.vertices[f * 6 + k];
            EXPECT_EQ(v.indoor, lighting::indoor);
            EXPECT_NEAR(v.normal.x, n.x, 1e-6);
            EXPECT_NEAR(v.normal.y, n.y, 1e-6);
            EXPECT_NEAR(v.normal.z, n.z, 1e-6);
            EXPECT_NEAR(dot(widened(v.position) - piece.body.center, n), h, 1e-5) << "face " << f;
            EXPECT_TRUE(sameColor(v.color, color, shadeOf[f])) << "face " << f;
        }
    }

    // Outdoor matter is class 0; the same box drawn as a star tile keeps the class it was given.
    piece.indoor = false;
    renderer.vertices.clear();
    renderer.matterMesh(piece);
    EXPECT_EQ(renderer.vertices.front().indoor, lighting::outdoor);
    renderer.vertices.clear();
    renderer.indoor = lighting::unlit;
    renderer.orientedBox(piece.body.vertices(), axes, color);
    EXPECT_EQ(renderer.indoor, lighting::unlit);
    ASSERT_EQ(renderer.vertices.size(), 36u);
    for (const Vertex& v : renderer.vertices) {
        EXPECT_EQ(v.indoor, lighting::unlit);
    }
}

TEST(PrimitivesTest, StaticMeansAliveAndNotInAWakingAssembly) {
    Physics physics;
    const Renderer renderer;
    MatterPiece piece;
    piece.body.velocity = {0.0, -30.0, 0.0}; // no assembly: static however it moves
    EXPECT_TRUE(renderer.isStatic(piece, physics));
    piece.alive = false;
    EXPECT_FALSE(renderer.isStatic(piece, physics));

    piece.alive = true;
    physics.assemblies.resize(2);
    physics.assemblies[1].asleep = true;
    piece.assembly = 0;
    EXPECT_FALSE(renderer.isStatic(piece, physics));
    piece.assembly = 1;
    EXPECT_TRUE(renderer.isStatic(piece, physics));
    piece.assembly = 7; // past the list: not a sleeping group
    EXPECT_FALSE(renderer.isStatic(piece, physics));
}

TEST(PrimitivesTest, SubmitUploadsUpToTheBufferSize) {
    test::DeviceLog log;
    Renderer renderer;
    test::attachRecorder(renderer, log);

    renderer.submit(); // nothing to draw: no device call
    EXPECT_TRUE(log.calls.empty());

    renderer.vertices.resize(Renderer::maxVertices);
    renderer.submit();
    ASSERT_EQ(log.draws.size(), 1u);
    EXPECT_EQ(log.draws[0].size(), 1'000'000u);
    EXPECT_TRUE(renderer.vertices.empty());
    EXPECT_GE(renderer.vertices.capacity(), 1'000'000u); // the list keeps its capacity

    renderer.vertices.resize(Renderer::maxVertices + 1);
    try {
        renderer.submit();
        FAIL() << "one vertex over the budget was drawn";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Geometry budget exceeded");
    }
    EXPECT_EQ(log.draws.size(), 1u);
}

} // namespace
} // namespace zarn
