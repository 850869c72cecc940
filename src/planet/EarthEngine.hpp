#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "ecology/Ecology.hpp"
#include "physics/Math.hpp"
#include "physics/Records.hpp"
#include "planet/ChunkCell.hpp"
#include "planet/EarthModel.hpp"
#include "planet/OverviewPatches.hpp"

namespace zarn {

class Physics;

// The Earth world's terrain streamed into the matter physics around the player: 64 m chunks made by
// the generator, added with their key as the pieces' owner and taken away again far from the
// player. Chunks whose matter was disturbed are pinned and kept as saved chunks when they unload, so
// that the damage is still there when the player comes back; untouched chunks are dropped and made
// again, identically. The loaded map's own pieces (the district) are the chunk with key 1. What
// joined a chunk to its neighbours (bonds, and pairs that broke) is kept while either is away and
// made again when both are back, and matter never loses what it rests on to the streaming: a chunk
// stays while matter of a chunk that stays leans on it, and comes back with what it leaned on.
// Beyond the chunks the planet is shown by the overview, coarse patches of the cube-sphere that never
// enter the physics.
class EarthEngine {
  public:
    static constexpr std::uint64_t landmarkOwner = 1; // the district's key

    struct Chunk {
        Vec3 center; // on the ground, in world coordinates; the origin for the district
        bool pinned = false;
    };

    struct SavedChunk {
        Vec3 center;
        bool pinned = false;
        double time = 0.0;               // Physics::time when the chunk was saved
        std::vector<MatterPiece> pieces; // its alive pieces, in their physics order
        std::vector<Bond> bonds;         // intact bonds between them, ends as 1-based positions in pieces
        std::vector<std::pair<std::int32_t, std::int32_t>> brokenPairs; // 1-based positions, ascending
        std::optional<ChunkCell> cell;                                  // none for the district
        // The chunks its matter leaned on when it was saved (see unloadFarChunks): they come back with
        // it. Their cells, ascending, and whether the district is one of them.
        std::vector<ChunkCell> leansOn;
        bool leansOnDistrict = false;
    };

    // One end of a bond or a broken pair between pieces of two chunks: a loaded piece, or a piece of
    // a chunk that is away, by its 1-based position in its chunk's pieces. A saved chunk's pieces are
    // those it keeps; an untouched chunk that was dropped comes back as its cell's generated list (the
    // district as the baseline), so its pieces are found there again.
    struct LinkEnd {
        enum class Kind : std::uint8_t { loaded, saved, dropped };
        Kind kind = Kind::loaded;
        std::uint32_t at = 0;  // loaded: the piece's id; else its position
        std::uint64_t key = 0; // saved: the chunk's key; dropped: the district's key, or 0 for a cell
        ChunkCell cell;        // dropped, key 0: the chunk's cell
    };
    // A bond (intact, with what it carried) or a broken pair (not intact) between pieces of two chunks,
    // kept while one of them is away and made again once both are loaded.
    struct CrossLink {
        LinkEnd a, b; // the bond's ends, in its order
        Bond bond;    // its ends are a and b
    };

    std::map<std::uint64_t, Chunk> chunks;     // the loaded chunks
    std::map<std::uint64_t, SavedChunk> saved; // unloaded pinned chunks
    std::uint64_t savedPieces = 0;             // pieces held in saved
    std::vector<MatterPiece> baseline;         // the map's own pieces as initialize found them
    double timer = 0.0;                        // s until the next streaming pass
    std::uint64_t nextKey = 2;                 // key of the next generated chunk
    std::map<ChunkCell, std::uint64_t> cells;  // the cells of the loaded chunks, with their keys
    // The district's rectangle, where the map's own pieces stand: no terrain columns are made inside
    // it on the near side.
    Box districtBounds{{-896.0, -48.0, -768.0}, {768.0, 0.0, 896.0}};
    bool populateEcology = false; // ask the organisms to populate each new or restored chunk
    EarthModel model;
    Ecology ecology;                   // the organisms of the streamed patches
    std::vector<MatterPiece> overview; // the far, coarse terrain: drawn, never simulated
    std::uint64_t generatedThisPass = 0;
    std::uint64_t evictedChunks = 0; // saved chunks dropped for the memory limit since initialize
    // The bonds and broken pairs between two chunks of which one or both are away, in the order they
    // were kept.
    std::vector<CrossLink> links;
    std::uint64_t compactionsFollowed = 0; // the physics' compaction count the loaded ends follow

    // Makes the engine follow a freshly loaded map: its pieces become the district.
    void initialize(Physics& physics);
    // One streaming step of dt seconds for the player at `position` looking along the unit vector
    // `forward`; a pass runs at most every 0.1 s of game time, and on every call with dt <= 0.
    void update(Physics& physics, Vec3 position, Vec3 forward, double dt);
    // Loaded chunks that are pinned, the district included.
    std::size_t pinnedChunks() const;

    // The matter of one chunk: sixteen anchored ground columns following the terrain, with roads and
    // rivers drawn into them and, on the near side's land, the crops or the small building of the
    // chunk's zone. The same cell always gives the same pieces in the same order; owner and state
    // time are left for the streamer to set.
    std::vector<MatterPiece> generate(int i, int j, bool farSide) const;
    // Rebuilds the overview for the eye at `eye` looking along the unit vector `forward`.
    void updateOverview(Vec3 eye, Vec3 forward);

  private:
    // A cell that may be generated in this pass, at distance d from the player.
    struct Candidate {
        double d = 0.0;
        ChunkCell cell;
        Vec3 center;
    };
    // Working storage of the passes, kept so that a pass allocates little; holds no state.
    struct Scratch {
        std::vector<std::uint64_t> unloading;
        // Per piece index: 1-based position among the alive pieces of its unloading chunk, 0 for none.
        std::vector<std::uint32_t> positions;
        std::vector<std::size_t> counts; // per chunk being saved
        std::vector<std::pair<std::uint64_t, SavedChunk>> saving;
        std::vector<Candidate> candidates;
        std::vector<MatterPiece> populated;
        OverviewScratch patches;
        // Leaning: the loaded chunks' keys ascending, per piece index the index of its chunk among
        // them, per chunk whether it is due to unload and how many pieces it has.
        std::vector<std::uint64_t> loaded;
        std::vector<std::uint32_t> chunkOf;
        std::vector<std::uint8_t> due;
        std::vector<std::size_t> sizes;
        std::vector<std::uint32_t> found;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> leaning; // (leaning, leaned on), ascending
        std::vector<std::size_t> crossing; // bonds between a chunk due to unload and another, ascending
        std::vector<std::pair<std::uint64_t, ChunkCell>> cellOf; // the loaded chunks' cells by key
        std::vector<std::uint64_t> pairs;
        std::vector<std::uint8_t> marked; // per piece index: an end of a link to bond
        // Restoring: the saved chunks that come back in this pass, and the absent chunks they lean on.
        std::vector<std::uint64_t> restoring;
        std::vector<ChunkCell> supports;
        bool supportDistrict = false;
    };

    // The stages of a pass, in their order.
    void pinDisturbedChunks(const Physics& physics);
    void unloadFarChunks(Physics& physics, const Vec3& position);
    void restoreNearChunks(Physics& physics, const Vec3& position);
    void rebuildDistrict(Physics& physics, const Vec3& position);
    void findCandidates(const Vec3& position, const Vec3& forward);
    void generateCandidates(Physics& physics);
    void refuseBrokenLinks(Physics& physics);
    void bondNewPieces(Physics& physics, std::uint32_t firstNew);
    void bondLinks(Physics& physics);

    // Unloading: which chunks lean on the ones due to go, those kept for what leans on them, the
    // positions of the pieces that go, the saved copies of the pinned chunks that go (keeping the
    // memory limit) and the links their pieces leave.
    void findLeaning(Physics& physics);
    void holdLeanedOn();
    void numberLeavingPieces(const Physics& physics);
    void saveChunks(const Physics& physics);
    void keep(std::uint64_t key, SavedChunk chunk);
    void linkLeavingPieces(const Physics& physics);
    void restore(Physics& physics, std::uint64_t key, const SavedChunk& chunk);
    void generateChunk(Physics& physics, const ChunkCell& cell, const Vec3& center);
    // The ends on the chunk `end` names (its position aside) become loaded pieces: the chunk's `count`
    // pieces were added after the first `first`, `added` of them with success.
    void loadLinkEnds(const LinkEnd& end, std::size_t first, std::size_t added, std::size_t count);
    // Drops what the physics holds dead and hands the renumbering on.
    void compact(Physics& physics);
    // Loaded ends follow the compactions the physics ran on its own since the engine's last look.
    void followCompactions(const Physics& physics);
    void renumberLinks(const std::vector<std::uint32_t>& renumbering);
    // Tells the organisms which chunks' matter is loaded.
    void shareLoadedChunks();

    // The organisms' population of one new or restored chunk.
    void populateChunk(const ChunkCell& cell, std::uint64_t key, const std::vector<MatterPiece>& pieces,
                       bool savedMatter);

    Scratch scratch;
};

} // namespace zarn
