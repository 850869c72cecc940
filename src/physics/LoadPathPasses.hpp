#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "physics/LoadLevers.hpp"
#include "physics/Physics.hpp"

// What the full refresh of the load paths (LoadPaths.cpp) and the refresh of the components that
// changed (NotedRefresh.cpp) share: the compact notes' flags and the passes both walk.
namespace zarn::loadpaths {

// Per-piece flags of the compact notes.
constexpr std::uint8_t aliveFlag = 1;
constexpr std::uint8_t anchoredFlag = 2;
constexpr std::uint8_t supportedFlag = 4;
constexpr std::uint8_t carriedFlag = 8;   // a stress was computed for the piece in this pass
constexpr std::uint8_t buildingFlag = 16; // matter of a building

constexpr int maxLoadPasses = 8;

inline std::uint32_t otherEnd(const Bond& bond, std::uint32_t id) {
    return bond.a == id ? bond.b : bond.a;
}

inline TopologyScratch::BondNote noteOf(const Bond& bond, const Vec3& down) {
    return {bond.area, dot(bond.normal, down), bond.stress};
}

inline bool unanchored(std::uint8_t flag) {
    return (flag & (aliveFlag | anchoredFlag)) == aliveFlag;
}

// The order a component's anchor links are walked in: anchors in id order, each through its bonds
// in bond order (the order of its adjacency list). A bond has one anchored end, so no two tie.
inline constexpr auto anchorsFirst = [](const TopologyScratch::AnchorLink& x,
                                        const TopologyScratch::AnchorLink& y) {
    return x.anchor != y.anchor ? x.anchor < y.anchor : x.bond < y.bond;
};

// Room in every array that the refreshes and the grid keep per piece or per bond (see makeRoom),
// taken before any of them is sized: arrays sized from nothing for a world that has just loaded get
// their room without moving. (The loaders give the pieces and the bonds theirs.)
void makeRoomForWorld(Physics& physics);

// recordPiece, for the walks that keep the records of the pieces they do not record in step.
void keepRecord(TopologyScratch& scratch, std::size_t index, const MatterPiece& piece);

void sizePieceNotes(TopologyScratch& scratch, std::size_t count);

// Depths from the anchors and the weight handed down, for one component with its links, notes and
// loads, given the links from its pieces to anchors in the order of anchorsFirst.
//
// Breadth first from the anchors: depth is the number of bonds to the ground. The first level comes
// from the anchors in that order, without walking the anchor's bonds to other components.
void loadFromAnchors(Physics& physics, const TopologyScratch::AnchorLink* grounded, std::size_t groundedCount,
                     const std::uint32_t* members, std::size_t memberCount);

// The end of a load pass for one piece: its support mark (a piece that loses it starts to move),
// the stress its load put on it, and its assembly index cleared within a topology refresh.
void settlePiece(Physics& physics, std::size_t index, bool nowSupported, bool wasSupported, bool carried,
                 bool clearAssembly);

// Mass, centre, velocities, wake state and inertia of an assembly from its members.
void gatherMotion(const Physics& physics, Assembly& assembly);

// The new assemblies may move only inside the motion window that stepping uses. A short wake
// window opened by a contact keeps the long window closed behind it.
void freezeOutsideWindow(Physics& physics);

// What every refresh leaves for the next: nothing noted, and the counts and gravity it refreshed
// with. A refresh that grouped the assemblies itself knows whose members the pieces are.
void closeNotes(Physics& physics, bool stillBreaking, bool groupedNoted);

} // namespace zarn::loadpaths
