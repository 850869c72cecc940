#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "render/RecordingBackend.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {
namespace {

// A vertex in view coordinates: x right, y up, z along the aim, from the eye.
struct ViewPoint {
    double x;
    double y;
    double z;
};

struct Bounds {
    ViewPoint min{1e9, 1e9, 1e9};
    ViewPoint max{-1e9, -1e9, -1e9};
};

class WeaponModelTest : public ::testing::Test {
  protected:
    Game game;
    Renderer renderer;

    void SetUp() override {
        game.player.position = {30.0, 2.0, -50.0};
        game.player.yaw = 0.7;
        game.player.pitch = -0.3;
    }

    std::vector<Vertex> model() {
        renderer.vertices.clear();
        renderer.origin = game.player.position; // f32 positions near the origin keep their precision
        renderer.viewmodel(game);
        return renderer.vertices;
    }

    std::vector<ViewPoint> inView(const std::vector<Vertex>& vertices) const {
        const View view = frameView(game, false);
        std::vector<ViewPoint> points;
        for (const Vertex& v : vertices) {
            const Vec3 p = Vec3{v.position.x, v.position.y, v.position.z} + renderer.origin - view.eye;
            points.push_back({dot(p, view.right), dot(p, view.up), dot(p, view.forward)});
        }
        return points;
    }

    Bounds bounds() {
        Bounds b;
        for (const ViewPoint& p : inView(model())) {
            b.min = {std::min(b.min.x, p.x), std::min(b.min.y, p.y), std::min(b.min.z, p.z)};
            b.max = {std::max(b.max.x, p.x), std::max(b.max.y, p.y), std::max(b.max.z, p.z)};
        }
        return b;
    }

    // How far every vertex moved between two models, in view coordinates; the same for all of them.
    ViewPoint shift(const std::vector<Vertex>& before, const std::vector<Vertex>& after) const {
        const std::vector<ViewPoint> a = inView(before);
        const std::vector<ViewPoint> b = inView(after);
        EXPECT_EQ(a.size(), b.size());
        const ViewPoint d{b[0].x - a[0].x, b[0].y - a[0].y, b[0].z - a[0].z};
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
            EXPECT_NEAR(b[i].x - a[i].x, d.x, 1e-5);
            EXPECT_NEAR(b[i].y - a[i].y, d.y, 1e-5);
            EXPECT_NEAR(b[i].z - a[i].z, d.z, 1e-5);
        }
        return d;
    }
};

TEST_F(WeaponModelTest, EachWeaponSitsInTheLowerRightOfTheView) {
    // Boxes (arms included) and the far end of each weapon along the aim at rest (0.38 m out).
    const std::array<std::size_t, weaponCount> boxes{6, 6, 6, 6, 7, 7, 5};
    const std::array<double, weaponCount> reach{0.78, 1.07, 1.07, 1.07, 1.33, 1.07, 1.01};
    for (std::int32_t weapon = 0; weapon < weaponCount; ++weapon) {
        game.weapon = weapon;
        const std::vector<Vertex> vertices = model();
        EXPECT_EQ(vertices.size(), 36 * boxes[static_cast<std::size_t>(weapon)]) << "weapon " << weapon;
        const Bounds b = bounds();
        EXPECT_NEAR(b.max.z, reach[static_cast<std::size_t>(weapon)], 1e-5) << "weapon " << weapon;
        EXPECT_NEAR(b.min.z, 0.38 - 0.235, 1e-5); // the end of the sleeve
        EXPECT_GT(b.min.x, 0.09);                 // right of the eye
        EXPECT_LT(b.max.x, 0.33);
        EXPECT_LT(b.max.y, -0.015); // below it
        EXPECT_NEAR(b.min.y, -0.18 - 0.205, 1e-5);
        for (const Vertex& v : vertices) {
            EXPECT_EQ(v.indoor, lighting::outdoor);
        }
    }
    // The assault rifle has a wooden grip and fore-grip; the carbine does not.
    const auto brown = [](const std::vector<Vertex>& vertices) {
        return std::count_if(vertices.begin(), vertices.end(),
                             [](const Vertex& v) { return v.color.x > 1.5f * v.color.y; });
    };
    game.weapon = 2;
    EXPECT_EQ(brown(model()), 72);
    game.weapon = 3;
    EXPECT_EQ(brown(model()), 0);

    // An invalid selection draws nothing; nor does a scoped sniper rifle, arms included.
    game.weapon = 7;
    EXPECT_TRUE(model().empty());
    game.weapon = 4;
    game.slots[4].scoped = true;
    EXPECT_TRUE(model().empty());
}

TEST_F(WeaponModelTest, KickBobAndReloadMoveTheGun) {
    game.time = 3.0;
    const std::vector<Vertex> rest = model();

    // The kick pulls the whole model back along the aim.
    game.slots[2].kick = 0.5;
    ViewPoint d = shift(rest, model());
    EXPECT_NEAR(d.z, -0.04, 1e-6);
    EXPECT_NEAR(d.y, 0.0, 1e-6);
    game.slots[2].kick = 0.0;

    // Standing still or falling, the model does not bob; walking at 6 m/s it rises and falls by
    // 0.012 / sqrt(2) m.
    game.player.velocity = {0.0, -7.0, 0.0};
    game.time = std::numbers::pi / 16.0; // sin(8 t) = 1
    EXPECT_NEAR(shift(rest, model()).y, 0.0, 1e-6);
    game.player.velocity = {6.0 * std::cos(0.3), -7.0, 6.0 * std::sin(0.3)};
    d = shift(rest, model());
    EXPECT_NEAR(d.y, 0.012 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(d.x, 0.0, 1e-6);
    game.time = 3.0 * std::numbers::pi / 16.0; // sin(8 t) = -1
    EXPECT_NEAR(shift(rest, model()).y, -0.012 / std::sqrt(2.0), 1e-6);
    game.player.velocity = {};

    // Through a reload the gun dips and comes back: 0.25 m lower halfway.
    const double reload = weapons[2].reload;
    game.time = 3.0;
    for (const auto& [left, dip] :
         std::vector<std::pair<double, double>>{{0.5, 0.25},
                                                {0.25, 0.25 * std::sin(std::numbers::pi / 4.0)},
                                                {0.0, 0.0},
                                                {1.0, 0.0},
                                                {1.2, 0.0}}) {
        game.slots[2].reloadUntil = game.time + left * reload;
        EXPECT_NEAR(shift(rest, model()).y, -dip, 1e-6) << left;
    }
}

TEST_F(WeaponModelTest, FlashOnlyRightAfterAShot) {
    game.reset(true);
    game.player.pitch = -1.2;
    const std::size_t rest = model().size();
    const auto isFlash = [](const Vertex& v) { // the flash's colour in any shade
        return v.color.x > 0.0f && std::abs(v.color.y / v.color.x - 0.76f) < 0.01f &&
               std::abs(v.color.z / v.color.x - 0.25f) < 0.01f;
    };
    const auto flashes = [&](const std::vector<Vertex>& vertices) {
        return std::count_if(vertices.begin(), vertices.end(), isFlash);
    };
    EXPECT_EQ(flashes(model()), 0);

    game.shoot();
    ASSERT_GT(game.muzzleFlash, 0.0);
    const std::vector<Vertex> fired = model();
    EXPECT_EQ(fired.size(), rest + 36);
    EXPECT_EQ(flashes(fired), 36);
    // The flash is in front of the muzzle.
    game.slots[2].kick = 0.0;
    const std::vector<Vertex> unkicked = model();
    double nearest = 1e9;
    const std::vector<ViewPoint> points = inView(unkicked);
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (isFlash(unkicked[i])) {
            nearest = std::min(nearest, points[i].z);
        }
    }
    EXPECT_NEAR(nearest, 0.38 + 0.81 - 0.055, 1e-5);

    game.tick(Input{}, 0.1);
    EXPECT_EQ(model().size(), rest);
}

TEST_F(WeaponModelTest, FrameDrawsTheModelOnlyInPlay) {
    test::DeviceLog log;
    test::attachRecorder(renderer, log);
    game.world.physics.clear();
    renderer.render(game, {false, false});
    const auto afterClear = [&]() {
        const auto clear = std::find(log.calls.begin(), log.calls.end(), "clear depth");
        return clear == log.calls.end() ? std::string("none") : *(clear + 1);
    };
    EXPECT_EQ(afterClear(), "draw 216");
    ASSERT_FALSE(log.draws.empty());
    EXPECT_EQ(log.draws.back().size(), 216u);

    log.calls.clear();
    game.dead = true;
    renderer.render(game, {false, false});
    EXPECT_EQ(afterClear(), "none");
    game.dead = false;
    log.calls.clear();
    renderer.render(game, {true, false});
    EXPECT_EQ(afterClear(), "none");
    log.calls.clear();
    game.weapon = 4;
    game.slots[4].scoped = true;
    renderer.render(game, {false, false});
    EXPECT_FALSE(afterClear().starts_with("draw"));
    EXPECT_NE(afterClear(), "none");
}

} // namespace
} // namespace zarn
