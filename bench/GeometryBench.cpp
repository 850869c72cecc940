// Cost of one call of the box tests that collapses run millions of times per second.
#include "physics/Geometry.hpp"

#include <cmath>
#include <numbers>

#include <benchmark/benchmark.h>

namespace zarn {
namespace {

Quaternion aboutAxis(const Vec3& axis, double angle) {
    const Vec3 u = normalized(axis);
    const double s = std::sin(angle / 2.0);
    return {std::cos(angle / 2.0), u.x * s, u.y * s, u.z * s};
}

Polyhedron cube(const Vec3& center, const Quaternion& orientation = {}) {
    Polyhedron body;
    body.center = center;
    body.halfExtents = {0.5, 0.5, 0.5};
    body.orientation = orientation;
    body.mass = 1200.0;
    return body;
}

MatterPiece piece(std::uint32_t id, const Polyhedron& body) {
    MatterPiece p;
    p.id = id;
    p.body = body;
    return p;
}

// A tumbling piece: turned about an axis that lines up with none of the other box's.
const Quaternion kTumbled = aboutAxis({0.3, 1.0, 0.2}, 0.6);

struct Pair {
    Polyhedron a;
    Polyhedron b;
};

// Resting aligned cubes pressed 1 cm together, a tumbled cube against an aligned one, and a
// pair whose bounding spheres are apart.
const Pair kTouching{cube({}), cube({0.99, 0.0, 0.0})};
const Pair kRotated{cube({}), cube({1.0, 0.1, -0.05}, kTumbled)};
const Pair kSeparated{cube({}), cube({3.0, 0.5, 0.0})};

void runCollide(benchmark::State& state, const Pair& pair) {
    Polyhedron a = pair.a;
    Polyhedron b = pair.b;
    Contact contact;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(collide(a, b, contact));
        benchmark::DoNotOptimize(contact);
    }
}

void runFaceContact(benchmark::State& state, const Pair& pair) {
    MatterPiece a = piece(1, pair.a);
    MatterPiece b = piece(2, pair.b);
    Bond bond;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(faceContact(a, b, bond));
        benchmark::DoNotOptimize(bond);
    }
}

void collideTouching(benchmark::State& state) {
    runCollide(state, kTouching);
}
void collideRotated(benchmark::State& state) {
    runCollide(state, kRotated);
}
void collideSeparated(benchmark::State& state) {
    runCollide(state, kSeparated);
}
void faceContactTouching(benchmark::State& state) {
    runFaceContact(state, kTouching);
}
void faceContactRotated(benchmark::State& state) {
    runFaceContact(state, kRotated);
}
void faceContactSeparated(benchmark::State& state) {
    runFaceContact(state, kSeparated);
}

void runSweep(benchmark::State& state, const Quaternion& orientation, const Vec3& start) {
    Polyhedron moving = cube(start, orientation);
    Polyhedron still = cube({});
    Vec3 displacement{4.0, 0.0, 0.0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(moving);
        benchmark::DoNotOptimize(still);
        benchmark::DoNotOptimize(displacement);
        benchmark::DoNotOptimize(sweepPolyhedra(moving, displacement, still));
    }
}

// An upright body against a standing piece, and a tumbling piece.
void sweepHitAligned(benchmark::State& state) {
    runSweep(state, {}, {-3.0, 0.2, 0.1});
}
void sweepHitTumbled(benchmark::State& state) {
    runSweep(state, kTumbled, {-3.0, 0.2, 0.1});
}
void sweepBroadMiss(benchmark::State& state) {
    runSweep(state, kTumbled, {-3.0, 2.0, 0.0});
}

void traceHit(benchmark::State& state) {
    Polyhedron box = cube({10.0, 0.3, -0.2}, kTumbled);
    Vec3 origin{0.0, 0.0, 0.0};
    Vec3 direction{1.0, 0.0, 0.0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(box);
        benchmark::DoNotOptimize(origin);
        benchmark::DoNotOptimize(direction);
        benchmark::DoNotOptimize(tracePolyhedron(origin, direction, box, 100.0));
    }
}

BENCHMARK(collideTouching);
BENCHMARK(collideRotated);
BENCHMARK(collideSeparated);
BENCHMARK(faceContactTouching);
BENCHMARK(faceContactRotated);
BENCHMARK(faceContactSeparated);
BENCHMARK(sweepHitAligned);
BENCHMARK(sweepHitTumbled);
BENCHMARK(sweepBroadMiss);
BENCHMARK(traceHit);

} // namespace
} // namespace zarn
