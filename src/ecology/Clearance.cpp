#include "ecology/Clearance.hpp"

#include <algorithm>
#include <cmath>

#include "ecology/Ecology.hpp"
#include "physics/Geometry.hpp"

namespace zarn {

namespace {

constexpr Vec3 hullHalfExtents{0.32, 0.9, 0.32};
constexpr double hullMass = 80.0;

bool deeperThanTouch(const Polyhedron& a, const Polyhedron& b) {
    Contact contact;
    return collide(a, b, contact) && contact.depth > touchDepth;
}

} // namespace

Vec3 upAgainst(const Vec3& gravity) {
    const double g = length(gravity);
    return g > 1e-9 ? gravity / -g : Vec3{};
}

Polyhedron playerHull(const Vec3& focus, const Vec3& gravity) {
    const Vec3 up = upAgainst(gravity);
    const double turn = std::atan2(-up.x, up.y);
    Polyhedron hull;
    hull.center = focus + up * hullHalfExtents.y;
    hull.halfExtents = hullHalfExtents;
    hull.orientation = {std::cos(turn / 2.0), 0.0, 0.0, std::sin(turn / 2.0)};
    hull.mass = hullMass;
    return hull;
}

Box grown(Box box, double margin) {
    box.min -= Vec3{margin, margin, margin};
    box.max += Vec3{margin, margin, margin};
    return box;
}

Box Clearance::boundsOf(std::size_t index) const {
    return bounds_ ? (*bounds_)[index] : Ecology::bounds(organisms_[index]);
}

bool Clearance::blocks(std::size_t other, std::size_t index, const Polyhedron& body, const Box& own) const {
    return other != index && organisms_[other].alive && strictlyOverlap(own, boundsOf(other)) &&
           deeperThanTouch(Ecology::body(organisms_[other]), body);
}

bool Clearance::clear(const Organism& organism, std::size_t index) {
    const Polyhedron body = Ecology::body(organism);
    double depth = 0.0;
    if (matter_) {
        // Physics::sweepBody of no motion over the pieces that reach the box it queries.
        const Box start = body.bounds();
        matter_->reaching(
            grown({componentMin(start.min, start.min + Vec3{}), componentMax(start.max, start.max + Vec3{})},
                  0.001),
            reaching_);
        if (sweepReaching(physics_, reaching_, MovingBox(body, Vec3{}), depth).hit && depth > touchDepth)
            return false;
    } else if (physics_.sweepBody(body, Vec3{}, depth).hit && depth > touchDepth) {
        return false;
    }
    if (deeperThanTouch(body, hull_))
        return false;
    const Box own = body.bounds();
    if (cells_) {
        // Those listed about it, in list order as the walk of every organism meets them.
        cells_->touching(own, near_);
        return std::none_of(near_.begin(), near_.end(),
                            [&](std::uint32_t other) { return blocks(other, index, body, own); });
    }
    for (std::size_t other = 0; other < organisms_.size(); ++other)
        if (blocks(other, index, body, own))
            return false;
    return true;
}

bool Ecology::clearAt(const Organism& organism, const Physics& physics, std::uint64_t index,
                      const Vec3& focus) const {
    Clearance clearance(physics, organisms, playerHull(focus, physics.gravity));
    return clearance.clear(organism,
                           index < organisms.size() ? static_cast<std::size_t>(index) : organisms.size());
}

} // namespace zarn
