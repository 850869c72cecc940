#pragma once

#include <cstddef>
#include <vector>

#include "ecology/NearbyMatter.hpp"
#include "ecology/OrganismCells.hpp"
#include "ecology/Records.hpp"
#include "physics/Physics.hpp"

namespace zarn {

// Bodies that overlap by no more than this merely touch (m); pushed-out bodies end this far clear.
inline constexpr double touchDepth = 0.0001;

// The local up direction, against gravity; zero without gravity.
Vec3 upAgainst(const Vec3& gravity);
// The player's hull as the organisms meet it: a still 0.64 x 1.8 x 0.64 m box standing on the
// focus along the local up, turned about z so that its long axis follows up in the x-y plane.
Polyhedron playerHull(const Vec3& focus, const Vec3& gravity);

// Overlap on all three axes, faces that only touch not counted.
inline bool strictlyOverlap(const Box& a, const Box& b) {
    return a.min.x < b.max.x && a.max.x > b.min.x && a.min.y < b.max.y && a.max.y > b.min.y &&
           a.min.z < b.max.z && a.max.z > b.min.z;
}
// Overlap on all three axes, touching faces counted.
inline bool overlapOrTouch(const Box& a, const Box& b) {
    return a.min.x <= b.max.x && a.max.x >= b.min.x && a.min.y <= b.max.y && a.max.y >= b.min.y &&
           a.min.z <= b.max.z && a.max.z >= b.min.z;
}
// Whether the outer box holds the inner one, faces included.
inline bool holds(const Box& outer, const Box& inner) {
    return outer.min.x <= inner.min.x && outer.min.y <= inner.min.y && outer.min.z <= inner.min.z &&
           outer.max.x >= inner.max.x && outer.max.y >= inner.max.y && outer.max.z >= inner.max.z;
}
Box grown(Box box, double margin);
// The bounds a body sweeps through on a displacement: its bounds at the start and at the end.
inline Box sweptBounds(const Polyhedron& body, const Vec3& displacement) {
    const Box start = body.bounds();
    return {componentMin(start.min, start.min + displacement),
            componentMax(start.max, start.max + displacement)};
}

// Whether an organism's body overlaps nothing: no matter, not the player's hull and no other alive
// organism deeper than touchDepth. The caller may hand in the bounds of every organism (index for
// index) when it keeps them, the cells they are listed in and the matter's cells; otherwise they are
// measured as needed, every organism is looked at and the matter is swept as the physics sweeps it.
class Clearance {
  public:
    Clearance(const Physics& physics, const std::vector<Organism>& organisms, const Polyhedron& hull,
              const std::vector<Box>* bounds = nullptr, OrganismCells* cells = nullptr,
              MatterCells* matter = nullptr)
        : physics_(physics), organisms_(organisms), hull_(hull), bounds_(bounds), cells_(cells),
          matter_(matter) {}

    // index is the organism's own index (it does not block itself), or one no organism has.
    bool clear(const Organism& organism, std::size_t index);

  private:
    Box boundsOf(std::size_t index) const;
    // Whether the other organism is alive and overlaps the body deeper than touching.
    bool blocks(std::size_t other, std::size_t index, const Polyhedron& body, const Box& own) const;

    const Physics& physics_;
    const std::vector<Organism>& organisms_;
    Polyhedron hull_;
    const std::vector<Box>* bounds_;
    OrganismCells* cells_;
    MatterCells* matter_;
    std::vector<std::uint32_t> near_;
    std::vector<ReachingPiece> reaching_;
};

} // namespace zarn
