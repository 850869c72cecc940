#pragma once

#include "physics/Math.hpp"

namespace zarn {

// Result of sweeping the player's hull through the world.
struct HullTrace {
    double fraction = 1.0; // part of the sweep done before the first contact; 1 = free
    Vec3 end;              // hull foot position at the end of the sweep
    Vec3 normal;           // outward face normal of the box first touched; zero when free
    bool stuck = false;    // the hull starts inside matter
    Vec3 pushOut;          // displacement that frees a stuck hull
};

// How the movement rules see the world: hull sweeps and the local up direction. The world is its
// only implementation; the movement rules include this header alone.
class IWorldTrace {
  public:
    // Sweeps an upright box hull standing on its foot point (half width radius across, height along
    // up) from one foot position to another.
    virtual HullTrace traceHull(const Vec3& from, const Vec3& to, double radius, double height) const = 0;
    // The local up direction; gravity pulls against it.
    virtual Vec3 gravityUp() const;
    virtual ~IWorldTrace() = default;

  protected:
    IWorldTrace() = default;
    IWorldTrace(const IWorldTrace&) = default;
    IWorldTrace(IWorldTrace&&) = default;
    IWorldTrace& operator=(const IWorldTrace&) = default;
    IWorldTrace& operator=(IWorldTrace&&) = default;
};

} // namespace zarn
