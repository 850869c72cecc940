#pragma once

#include <cstdint>
#include <vector>

#include "physics/Physics.hpp"

// Pieces that move further in one step than they are thick, and the matter they would pass through:
// the contacts only see where a step leaves a piece, so such a piece could fly through a slab
// without ever meeting it. Within a step, integration notes the assemblies that moved a piece that
// far; once every assembly has moved, each noted one is swept along its move against the still
// matter its fast pieces would meet, and stopped at the first.
namespace zarn::fast {

// Whether integration moved some member further than it is thick; before holds the members' bodies
// before the step, in member order.
bool movedPastThickness(const Physics& physics, const Assembly& assembly,
                        const std::vector<Polyhedron>& before);

// Notes an assembly of this step's fast pieces with its centre, inertia and members' bodies as they
// were before the step.
void noteMove(Physics& physics, std::int32_t assembly, const Vec3& center, const SymmetricMatrix& inertia,
              const std::vector<Polyhedron>& before);

// Stops every noted assembly whose fast piece would meet matter on its way: it goes back to its pose
// before the step and moves only as far as the contact and a little into what it met, so that the
// step's contacts meet it there and stop or bounce it; it keeps the velocity of the step. Returns
// whether it stopped any. The grid must list every piece where it now is.
bool stopAtFirstMatter(Physics& physics);

} // namespace zarn::fast
