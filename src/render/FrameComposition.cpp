#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "planet/EarthModel.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr double normalFocus = 1.3270448; // 1 / tan 37°: a 74° vertical field of view
constexpr double scopeFocus = 4.70463;    // 24° through the sniper scope

// The scenic camera of the main menu and the world selection.
constexpr Vec3 menuEye{-105.0, 36.0, -218.0};
constexpr Vec3 menuForward{0.5922683025185973, -0.02030634180063762, 0.8054848914252923};

constexpr Vec3 plainFog{0.42, 0.48, 0.49};

// The sun disc shows while its top edge clears the horizon (its angular radius, 9.3 m at 2000 m).
constexpr double sunDiscClearance = -0.00465;
constexpr double sunDistance = 2000.0;
constexpr double sunRadius = 9.3;
constexpr int sunSegments = 24;
constexpr Color sunColor{1.0f, 0.85f, 0.55f};
// Organisms this much beyond their own size from the eye are left to the far pass's slabs.
constexpr double nearOrganismReach = 1000.0;

Float4 float4(const Vec3& v, double w = 0.0) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z), static_cast<float>(w)};
}

struct FigurePart {
    Vec3 offset; // from the feet
    Vec3 size;
    Color color;
};

// An enemy soldier, always facing -z; the legs swing by 0.08 m with the walk.
constexpr Color legColor{0.21f, 0.23f, 0.18f};
constexpr std::array<FigurePart, 4> figureUpperParts{{
    {{0.0, 1.15, 0.0}, {0.62, 0.7, 0.34}, {0.37f, 0.36f, 0.24f}},   // body
    {{0.0, 1.67, 0.0}, {0.34, 0.37, 0.34}, {0.56f, 0.46f, 0.34f}},  // head
    {{0.0, 1.83, 0.0}, {0.39, 0.14, 0.39}, {0.29f, 0.31f, 0.23f}},  // helmet
    {{0.0, 1.2, -0.37}, {0.65, 0.13, 0.25}, {0.11f, 0.12f, 0.11f}}, // rifle
}};
constexpr Vec3 legSize{0.22, 0.8, 0.25};

constexpr Color supplyColor{0.46f, 0.51f, 0.27f};
constexpr Color rocketColor{0.94f, 0.54f, 0.15f};
constexpr Color playerTracerColor{1.0f, 0.81f, 0.35f};
constexpr Color enemyTracerColor{1.0f, 0.3f, 0.12f};
constexpr Color velocityMarkColor{0.95f, 0.3f, 0.1f};
constexpr Color spinMarkColor{0.2f, 0.75f, 0.95f};

} // namespace

WorldKind worldKind(const World& world) {
    if (world.stars) {
        return WorldKind::stars;
    }
    return world.earth ? WorldKind::earth : WorldKind::plain;
}

Vec3 steadyEye(const Game& game) {
    return game.player.position + game.world.gravityUp() * game.player.eyeHeight();
}

Vec3 earthDayLight(const DayCycle& dayCycle) {
    // The sun's elevation and the horizon's dip are measured against the Earth's sphere.
    const Vec3 p = dayCycle.observer + Vec3{0.0, EarthModel::centreDepth, 0.0};
    const double l = length(p);
    const Vec3 sun = dayCycle.sunDirection();
    const double elevation = l > 1e-9 ? std::asin(std::clamp(dot(p, sun) / l, -1.0, 1.0)) : 0.0;
    const double dip = std::acos(EarthModel::radius / std::max(l, EarthModel::radius));
    const double x = (elevation + dip + 0.035) / 0.105;
    const double day = x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : (3.0 - 2.0 * x) * x * x);
    const double clearance = std::abs(dayCycle.solarClearance());
    const double twilight = clearance < 0.14 ? day * (1.0 - clearance / 0.14) : 0.0;
    const double night = 1.0 - day;
    return {day + 0.12 * night + 0.28 * twilight, day + 0.17 * night - 0.12 * twilight,
            day + 0.28 * night - 0.2 * twilight};
}

View frameView(const Game& game, bool menu) {
    View view;
    view.worldUp = game.world.gravityUp();
    if (menu) {
        view.eye = menuEye;
        view.forward = menuForward;
        view.right = normalized(cross(Vec3{0.0, 1.0, 0.0}, menuForward));
    } else {
        view.eye = game.player.position + view.worldUp * game.player.eyeHeight();
        if (game.blastFlash > 0.0) {
            // The blast shake always moves along world y, whatever the world's up.
            view.eye.y += std::sin(90.0 * game.time) * game.blastFlash * 0.06;
        }
        view.forward = game.aim();
        view.right = normalized(cross(view.worldUp, view.forward));
    }
    view.up = cross(view.forward, view.right);
    return view;
}

Camera frameCamera(const Game& game, const View& view, const Vec3& origin, std::int32_t width,
                   std::int32_t height, bool menu) {
    const World& world = game.world;
    const WorldKind kind = worldKind(world);
    Camera camera;
    camera.eye = float4(view.eye - origin);
    camera.right = float4(view.right);
    camera.up = float4(view.up);
    camera.forward = float4(view.forward);

    bool scoped = false;
    if (!menu && game.weapon >= 0 && game.weapon < weaponCount) {
        scoped = game.slots[static_cast<std::size_t>(game.weapon)].scoped;
    }
    const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    camera.projection = {static_cast<float>(scoped ? scopeFocus : normalFocus), static_cast<float>(aspect),
                         kind == WorldKind::plain ? 0.0f : 1.0f, 0.0f};

    switch (kind) {
    case WorldKind::plain:
        camera.outdoorLight = float4({1.0, 1.0, 1.0});
        camera.indoorLight = float4({1.0, 1.0, 1.0});
        camera.fogColor = float4(plainFog);
        break;
    case WorldKind::earth:
        // The outdoor light follows the sun through day, twilight and night; indoors stays warm white.
        camera.outdoorLight = float4(earthDayLight(world.dayCycle));
        camera.indoorLight = float4({1.0, 0.96, 0.9});
        camera.fogColor = float4(world.skyColor);
        break;
    case WorldKind::stars: {
        // The outdoor light is the atmosphere's bounce at the eye; the star light, the shadowing
        // sphere of the nearest body and the light, fog and sky-point strengths follow it.
        const Stars& stars = *world.stars;
        const Vec3 eye = steadyEye(game);
        camera.outdoorLight = float4(stars.atmosphereBounce(eye));
        camera.indoorLight = float4({1.0, 1.0, 1.0});
        camera.fogColor = float4(world.skyColor);
        camera.starLight = float4(stars.lightDirection(eye), 1.0);
        const auto nearest = static_cast<std::size_t>(stars.nearestBody);
        if (nearest < stars.bodies.size()) {
            camera.starSphere =
                float4(stars.center(stars.nearestBody) - origin, stars.bodies[nearest].radius);
        }
        const double toLight = length(eye - stars.center(stars.lightBody));
        const double sky = length(world.skyColor);
        camera.starParameters = {
            static_cast<float>(std::clamp(astronomicalUnitSquared / (toLight * toLight), 0.03, 1.5)),
            static_cast<float>(std::clamp(2.0 * sky, 0.0, 1.0)),        // fog is weak under a dark sky
            static_cast<float>(std::clamp(1.0 - 3.0 * sky, 0.03, 1.0)), // stars fade as the sky brightens
            0.0f};
        break;
    }
    }
    return camera;
}

void Renderer::render(const Game& game, const FrameOptions& options) {
    if (!backend) {
        return; // nothing to draw on before initialize
    }
    const World& world = game.world;
    origin = world.terrainCell;
    physicsDebug = options.physicsDebug;
    const WorldKind kind = worldKind(world);
    backend->beginFrame(world.skyColor, kind == WorldKind::plain ? PixelProgram::plain : PixelProgram::earth);

    const View view = frameView(game, options.menu);
    const Camera camera = frameCamera(game, view, origin, width, height, options.menu);
    backend->uploadCamera(camera, "camera upload");

    // The far passes with logarithmic depth, each ending with the depth cleared for the near pass.
    if (kind == WorldKind::stars) {
        starsScene(game, camera);
    }
    if (kind == WorldKind::earth && world.dayCycle.solarClearance() > sunDiscClearance) {
        sunDisc(view, world.dayCycle.sunDirection());
    }
    if (world.earth) {
        earthFarPass(game, camera);
        nearOrganisms(game, view.eye);
    } else if (kind == WorldKind::stars) {
        Camera near = camera;
        near.projection.z = 0.0f;
        backend->uploadCamera(near, "stars near camera");
        backend->usePixelProgram(PixelProgram::plain);
        backend->clearDepth();
    }

    staticScene(game, view.eye, view.forward);
    scene(game);
    submit();

    if (!options.menu && !game.dead) {
        // The weapon model, drawn over a cleared depth so the world never hides it, and with linear
        // depth in every world: logarithmic depth taken at the corners of faces that reach from a
        // quarter to three quarters of a metre from the eye bends too far between them, and the grip
        // shows through the receiver. The star light would shade the model by the bodies around, so
        // under the stars it is lit plain white.
        backend->clearDepth();
        if (kind == WorldKind::stars) {
            Camera equipment = camera;
            equipment.projection.z = 0.0f;
            equipment.outdoorLight = float4({1.0, 1.0, 1.0});
            equipment.starLight.w = 0.0f;
            backend->uploadCamera(equipment, "equipment camera");
        }
        viewmodel(game);
        submit();
    }

    if (options.ui != nullptr) {
        drawHud(game, *options.ui);
    } else {
        backend->compositeHud({});
    }
    if (captureDue) {
        // The back buffer no longer holds this frame once it is presented.
        backend->keepFrame();
        captureDue = false;
    }
    backend->present();
}

void Renderer::sunDisc(const View& view, const Vec3& sunDirection) {
    const Vec3 centre = view.eye + sunDirection * sunDistance;
    indoor = lighting::unlit;
    backend->setDepthTest(false);
    Vec3 previous = centre + view.right * sunRadius;
    for (int i = 1; i <= sunSegments; ++i) {
        const double angle = 2.0 * std::numbers::pi * i / sunSegments;
        const Vec3 rim = centre + (view.right * std::cos(angle) + view.up * std::sin(angle)) * sunRadius;
        triangle(centre, previous, rim, sunColor);
        previous = rim;
    }
    submit();
    indoor = lighting::outdoor;
    backend->setDepthTest(true);
}

void Renderer::organismBox(const BioBox& box) {
    Polyhedron body;
    body.center = box.center;
    body.halfExtents = box.halfExtents;
    body.orientation = box.orientation;
    const std::array<Vec3, 3> axes = body.axes();
    indoor = lighting::outdoor;
    orientedBox(body.vertices(axes), axes, colorOf(box.color));
}

void Renderer::earthFarPass(const Game& game, const Camera& camera) {
    const EarthEngine& earth = *game.world.earth;
    for (const MatterPiece& piece : earth.overview) {
        matterMesh(piece);
    }
    for (const BioBox& box : earth.ecology.boxes(true)) {
        organismBox(box);
    }
    submit();
    backend->clearDepth();
    Camera near = camera;
    near.projection.z = 0.0f;
    backend->uploadCamera(near, "near camera upload");
    backend->usePixelProgram(PixelProgram::plain);
}

void Renderer::nearOrganisms(const Game& game, const Vec3& eye) {
    for (const BioBox& box : game.world.earth->ecology.boxes(false)) {
        if (length(box.center - eye) < length(box.halfExtents) + nearOrganismReach) {
            organismBox(box);
        }
    }
}

void Renderer::scene(const Game& game) {
    const Physics& physics = game.world.physics;
    const Vec3& from = game.player.position;

    for (const MatterPiece& piece : physics.pieces) {
        if (!piece.alive || isStatic(piece, physics)) {
            continue;
        }
        const Polyhedron& body = piece.body;
        const double distance = length(body.center - from);
        if (distance - length(body.halfExtents) > sceneRange) {
            continue;
        }
        matterMesh(piece);
        if (physicsDebug && distance < 200.0) {
            beam(body.center, body.center + body.velocity * 0.25, 0.04, velocityMarkColor);
            beam(body.center, body.center + body.angularVelocity * 2.0, 0.04, spinMarkColor);
        }
        if (vertices.size() * sizeof(Vertex) > flushBytes) {
            submit();
        }
    }

    for (const Enemy& enemy : game.enemies) {
        if (!enemy.alive || length(enemy.position - from) > enemyRange) {
            continue;
        }
        const Vec3& p = enemy.position;
        const double swing = 0.08 * std::sin(7.0 * game.time + enemy.id);
        box({p.x - 0.16, p.y + 0.4 + swing, p.z}, legSize, legColor);
        box({p.x + 0.16, p.y + 0.4 - swing, p.z}, legSize, legColor);
        for (const FigurePart& part : figureUpperParts) {
            box(p + part.offset, part.size, part.color);
        }
    }

    for (const Supply& supply : game.supplies) {
        if (!supply.taken) {
            box(supply.position + Vec3{0.0, 0.22, 0.0}, {0.6, 0.4, 0.5}, supplyColor);
        }
    }

    for (const Rocket& rocket : game.rockets) {
        box(rocket.position, {0.16, 0.16, 0.6}, rocketColor);
    }

    for (const Tracer& tracer : game.tracers) {
        if (tracer.enemy) {
            beam(tracer.from, tracer.to, 0.025, enemyTracerColor);
        } else {
            beam(tracer.from, tracer.to, 0.012, playerTracerColor);
        }
    }
}

} // namespace zarn
