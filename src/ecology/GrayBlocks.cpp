#include <optional>

#include "ecology/AliveIndex.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Ecology.hpp"

namespace zarn {

namespace {

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

bool Ecology::patchHoldsMatter(std::uint64_t patch) const {
    return !matterChunks || matterChunks->contains(patch);
}

void Ecology::grayBlocksToMatter(Physics& physics) {
    std::optional<AliveIndex> alive; // made for the first block that turns
    bool added = false;
    for (Organism& block : organisms) {
        if (!block.alive || block.kind != LifeKind::Block || !block.gray || !patchHoldsMatter(block.patch))
            continue;
        // Matter of the block's own patch: it leaves and comes back with that chunk, and pins
        // nothing else (not the district it may lie on).
        const std::uint32_t pieceId = physics.addNoted(matterOf(block, block.patch));
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
    // The new pieces stand in the way of the bodies swept after them in this step: entered in the
    // grid as the noted changes they are, so the next refresh walks only what they reach.
    if (added)
        physics.rebuildNotedGrid();
}

} // namespace zarn
