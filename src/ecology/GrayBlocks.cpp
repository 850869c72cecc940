#include <optional>

#include "ecology/AliveIndex.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"
#include "physics/Geometry.hpp"

namespace zarn {

namespace {

// A grey block lies on the pieces that its body, grown by this much, overlaps (m).
constexpr double lyingReach = 0.02;

// The owner of the matter a grey block lies on: of the alive pieces it touches, the one whose
// contact pushes it most nearly up (the first by id among equals); none when it touches no matter.
// The terrain streamer takes a chunk's pieces away by their owner, so the new piece leaves with the
// ground it lies on; being loose matter it pins that chunk, whose saved state then keeps it. The
// block's own patch would not do: it may name a chunk already unloaded (a patch is kept some 64 m
// farther out than its chunk), or none (rained blocks). A grey block on nothing (in the air, on the
// far ground, on other organisms) stays a grey organism until it lies on matter.
std::optional<std::uint64_t> lyingOwner(const Physics& physics, const Organism& block, const Vec3& up) {
    Polyhedron reach = Ecology::body(block);
    reach.halfExtents += Vec3{lyingReach, lyingReach, lyingReach};
    std::optional<std::uint64_t> owner;
    double best = 0.0;
    for (const std::uint32_t id : physics.query(reach.bounds())) {
        const MatterPiece& piece = physics.pieces[id - 1];
        Contact contact;
        if (!piece.alive || !collide(piece.body, reach, contact))
            continue;
        const double upward = dot(contact.normal, up);
        if (!owner || upward > best) {
            owner = piece.owner;
            best = upward;
        }
    }
    return owner;
}

MatterPiece matterOf(const Organism& block, std::uint64_t owner) {
    MatterPiece piece;
    piece.body.center = block.center;
    piece.body.halfExtents = block.halfExtents;
    piece.body.velocity = block.velocity;
    piece.body.angularVelocity = block.angularVelocity;
    piece.body.orientation = block.orientation;
    piece.owner = owner;
    piece.groundLevel = 1e30; // the world's
    piece.building = -1;
    piece.color = Ecology::grayColor;
    piece.alive = true;
    piece.anchored = false;
    piece.supported = false;
    piece.assembly = -1;
    piece.stateTime = -1.0; // from now
    return piece;
}

bool liveConnection(const Organism& o) {
    return o.alive && o.kind == LifeKind::Block && !o.gray && o.ability == Ability::Connection;
}

} // namespace

void Ecology::grayBlocksToMatter(Physics& physics, const Vec3& up) {
    std::optional<AliveIndex> alive; // made for the first block that turns
    bool added = false;
    for (Organism& block : organisms) {
        if (!block.alive || block.kind != LifeKind::Block || !block.gray)
            continue;
        const std::optional<std::uint64_t> owner = lyingOwner(physics, block, up);
        if (!owner)
            continue;
        const std::uint32_t pieceId = physics.add(matterOf(block, *owner));
        if (pieceId == 0)
            continue; // the store is full: it stays a block
        if (!alive)
            alive.emplace(organisms);
        block.alive = 0;
        added = true;

        // The live Connection block at the other end, or none.
        auto connection = [&](std::uint32_t id) -> Organism* {
            const std::size_t index = alive->find(id);
            return index != AliveIndex::none && liveConnection(organisms[index]) ? &organisms[index]
                                                                                 : nullptr;
        };
        for (BioBond& bond : bonds) {
            if (!bond.active)
                continue;
            if (bond.a == block.id && !bond.toWorld) {
                // The Connection block at the far end now holds the bond, to the piece.
                Organism* holder = connection(bond.b);
                if (!holder) {
                    bond.active = 0;
                    continue;
                }
                bond.a = holder->id;
                bond.b = pieceId;
                bond.toWorld = 1;
                bond.anchor = holder->orientation.rotateInverse(block.center - holder->center);
                bond.rotation = relativeRotation(holder->orientation, block.orientation);
            } else if (bond.a == block.id) {
                bond.active = 0; // the grey block's own hold on the world
            } else if (bond.b == block.id && !bond.toWorld) {
                if (connection(bond.a)) {
                    bond.b = pieceId;
                    bond.toWorld = 1;
                } else {
                    bond.active = 0;
                }
            }
        }
    }
    // The new pieces stand in the way of the bodies swept after them in this step.
    if (added)
        physics.rebuildGrid();
}

} // namespace zarn
