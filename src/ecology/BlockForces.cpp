#include "ecology/Ecology.hpp"

namespace zarn {

// The blocks' bond springs, bonding, abilities and shared budget come here. Until they do, blocks
// move by the body step alone: they fall, turn, collide and hold their bonds without forces.
void Ecology::blockForces(Physics&, const Vec3&, double) {}

} // namespace zarn
