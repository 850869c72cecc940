#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ecology/BodyScratch.hpp"
#include "ecology/Records.hpp"
#include "ecology/TopologyKey.hpp"
#include "physics/Physics.hpp"
#include "planet/ChunkCell.hpp"

namespace zarn {

class EarthModel;

// The organisms of the Earth world: born per 64 m terrain patch, ageing by local dawns, moving as
// boxes against the matter, hurt by weapons and stored away per patch when the player leaves.
class Ecology {
  public:
    // add refuses once the list holds this many organisms; restoring archives may go up to the
    // capacity.
    static constexpr std::size_t maxAdded = 288;
    static constexpr std::size_t capacity = 384;
    // Slabs of generation 0 (rising, drifting and freshly evaporated) alive at once.
    static constexpr std::size_t maxFirstGenerationSlabs = 24;
    // connect refuses while the bond list holds this many; other paths may append past it.
    static constexpr std::size_t maxBonds = 2304;
    // 5-degree cells: 72 columns of longitude by 36 rows of latitude.
    static constexpr std::size_t profileColumns = 72;
    static constexpr std::size_t profileRows = 36;
    static constexpr std::size_t profileCount = profileColumns * profileRows;
    // Organisms whose centre lies closer than this to a blast are struck by it.
    static constexpr double blastReach = 24.0;
    // Archives held at once; the oldest goes first.
    static constexpr std::size_t maxArchives = 160;
    // A frame that delivers a long dt runs at most this many body steps (a quarter second); the
    // backlog past them is dropped, so a stall costs a bounded time instead of growing.
    static constexpr int maxBodySteps = 15;
    // A block whose bond broke makes no new bond for this long, s.
    static constexpr double bondRest = 0.5;
    // Slabs narrower than this (half extent, m) do not split when brought down.
    static constexpr double leastSplitHalf = 0.25;
    // The grey of a block that starved, linear RGB, and of the matter such a block turns into.
    static constexpr Vec3 grayColor{0.72, 0.73, 0.70};

    // A patch is the terrain chunk (i, j) on the near or far hemisphere.
    using PatchKey = ChunkCell;

    // One populated patch.
    struct Patch {
        std::uint64_t id = 0;         // the terrain streamer's id of the chunk; its organisms carry it
        Vec3 center;                  // x and z of the patch centre, y the terrain surface there
        std::vector<Vec3> water;      // top centres of at most two water pieces
        double nextEvaporation = 0.0; // time from which the patch may emit a rising Slab
    };

    // The stored contents of a patch the player has left.
    struct Archive {
        std::vector<Organism> organisms;
        std::vector<BioBond> bonds; // intact organism bonds whose both ends were archived
        double dayClock = 0.0;      // the day clock when it was stored
    };

    std::map<PatchKey, Patch> patches;
    std::map<PatchKey, Archive> archives;
    std::map<PatchKey, std::uint64_t> archiveStamps; // archiveCounter when archived; oldest smallest
    std::uint64_t archiveCounter = 0;
    std::uint64_t nextId = 1; // handed out as u32, never reused
    double time = 0.0;        // ecology time, s
    double stepAccumulator = 0.0;
    double bodyAccumulator = 0.0;
    std::vector<EcoProfile> profiles;
    std::vector<Organism> organisms;
    std::vector<BioBond> bonds;
    std::vector<BioAssembly> speciesA; // catalogue group A
    std::vector<BioAssembly> speciesB; // catalogue group B
    std::uint64_t bondsBroken = 0;
    std::uint64_t grayBlocks = 0;
    std::uint64_t replications = 0;
    std::vector<BioAssembly> registry; // species made by replication
    Vec3 areaCenter;
    double areaRadius = 24.0;
    double thrustScale = 1.0;
    double costScale = 1.0;
    bool areaSet = false;
    double dayClock = 0.0; // days
    std::uint64_t births = 0;
    std::uint64_t deaths = 0; // killed by hits or by age

    Ecology();

    // ---- the ecosystem catalogue ----

    // Reads the catalogue file: the climate profile of every cell and the species of both groups. All
    // or nothing: on success profiles, speciesA and speciesB are replaced and error is left alone; on
    // the first failed check error names the check's number and the path (UTF-8), and nothing changes.
    bool load(const std::filesystem::path& file, std::string& error);

    // ---- population and the life cycle ----

    // Fills the patch of a newly loaded terrain chunk from its pieces: renames a patch that is still
    // populated, restores the patch's archive, or places fresh Cubes, species and Slabs. savedMatter
    // says that the chunk's pieces come back from a saved chunk: the grey blocks of its species
    // became matter saved with it, so that species is not raised there again.
    void populate(std::int32_t i, std::int32_t j, bool farSide, std::uint64_t patchId,
                  const std::vector<MatterPiece>& pieces, const EarthModel& model, bool savedMatter = false);
    // One simulation step of dt: the clocks, the life step every 0.05 s with the time gathered, and
    // body steps of 1/60 s, at most maxBodySteps of them per call.
    void update(Physics& physics, const EarthModel& model, Vec3 focus, Vec3 gravity, double dt,
                double dayRate);
    // The life step over dt: archives the patches the player left, removes the dead, evaporates
    // water into rising Slabs, ages everything and drives the Slabs' cycle and their sowing.
    void step(Physics& physics, const EarthModel& model, Vec3 focus, Vec3 gravity, double dt);

    // ---- the model: organisms, their age, colour and body ----

    // Creates one organism standing on the position; refuses silently when the list is full or, for
    // a Slab, when 24 Slabs of generation 0 are alive.
    void add(LifeKind kind, const Vec3& position, std::uint64_t patch, std::uint32_t seed,
             const EcoProfile& profile, double daysAgo);
    // The climate profile of the cell that holds the position.
    EcoProfile profile(const EarthModel& model, const Vec3& position) const;
    // Index in profiles of the 5-degree cell of a latitude and longitude in degrees: the column wraps
    // round the globe, the row is clamped at the poles.
    static std::size_t profileIndex(double latitude, double longitude);
    // Local dawns in (from, to] at the position; never negative.
    static std::int32_t dawns(double from, double to, const Vec3& position);
    // Whether it is day at the position at that day time.
    static bool daylight(double dayTime, const Vec3& position);
    // Advances a Slab's stage or kills a Slab or Cube by its age.
    static void age(Organism& organism, double dayTime);
    // The drawn colour of a Slab or Cube (a Block's base colour), brightness included.
    static Vec3 color(const Organism& organism, double dayTime);
    static double mass(const Organism& organism);
    // The organism's body: exactly one box.
    static std::vector<Polyhedron> bodies(const Organism& organism);
    static Polyhedron body(const Organism& organism);
    static Box bounds(const Organism& organism);
    static Vec3 abilityColor(Ability ability);
    // Sets the day clock's time of day to the world's day phase, keeping its whole days, and moves
    // every organism's birth and stage times with it so that no organism ages by the change. The
    // Earth world's loader calls it so that the organisms' dawns fall when the sky's sun rises.
    void syncDayClock(double phase);

    // ---- weapon effects, traces and render boxes ----

    // The nearest alive organism on the ray within the limit, skipping ignoreId unless it is 0.
    OrganismHit trace(const Vec3& origin, const Vec3& direction, double limit, std::uint32_t ignoreId) const;
    // One hit on the organism at index; true when it killed or marked a Slab or Cube, and for any
    // hit Block. An index out of range (OrganismHit's -1 included) does nothing.
    bool impact(std::uint64_t index, const Vec3& impulse, bool blast);
    // An explosion: every organism within 24 m is struck along +x by strength / (d² + 1).
    void blast(const Vec3& center, double strength);
    // Render boxes of one pass: the moving Slabs (slabPass) or everything else, with face markers on
    // live blocks.
    std::vector<BioBox> boxes(bool slabPass) const;

    // ---- block bonds ----

    // The largest overlap area of one masked face of o with an opposite, coplanar face of p, m².
    static double contactArea(const Organism& o, const Polyhedron& p, std::uint32_t faceMask);
    // Makes one bond from organism a to organism b, or to matter piece id b when toWorld is set (then
    // physics must be given); offset is the other end's centre minus a's, in world axes.
    bool connect(std::uint32_t a, std::uint32_t b, bool toWorld, const Vec3& offset, const Physics* physics);
    // The springs of every active bond over one step of dt: they pull the ends together and break
    // when overloaded; bonds whose end is gone lapse silently; inactive bonds are removed.
    void springPass(Physics& physics, double dt);
    // Connection blocks that are not busy bond to the organisms and the matter they touch, paying
    // for each bond from their own mass budget.
    void bondingPass(const Physics& physics);
    // Rewrites the piece ids of world bonds after the physics compacted its history: newIds[old id]
    // is the piece's new id, 0 for a piece that is gone. Bonds to gone pieces are dropped.
    void renumberWorldBonds(const std::vector<std::uint32_t>& newIds);
    // What the blocks do by themselves in one body step of dt: the springs of their bonds, new bonds,
    // their abilities and their shared mass budget.
    void blockForces(Physics& physics, const Vec3& focus, double dt);

    // ---- bodies against the physics ----

    // Refills Physics::colliders with the bodies of the organisms that are alive and placed, for
    // the matter of the next physics step to collide with.
    void syncColliders(Physics& physics) const;
    // Takes the pushes that the last physics step gave the organisms: each changes its organism's
    // velocity, and one that closed faster than 3 m/s hurts it too. Empties the list.
    void receiveContacts(Physics& physics);
    // Whether the organism's body, as it stands, overlaps no matter, not the player's hull at the
    // focus (upright against the physics gravity) and no other alive organism. index is the
    // organism's own index in the list, or one that no organism has.
    bool clearAt(const Organism& organism, const Physics& physics, std::uint64_t index,
                 const Vec3& focus) const;
    // Splits the marked Slab at index into four along the world x and z axes; a Slab too narrow to
    // split loses its mark, and while the list has no room for three more the mark waits.
    void fracture(std::uint64_t index);
    // One body step of dt: the blocks' own forces, grey blocks into matter, then every organism
    // placed, fallen, turned and swept against the matter, the player, the far ground and each
    // other; the landed Slabs split and the colliders are refilled.
    void moveBodies(Physics& physics, const EarthModel& model, const Vec3& focus, const Vec3& gravity,
                    double dt);

    // The keys of the terrain chunks whose matter is loaded, kept by the terrain streamer: a grey
    // block turns into matter of its patch's chunk only while that chunk is here (a patch outlives
    // its chunk by some 64 m, and matter left behind by an unloaded chunk would never leave, nor
    // have ground under it). Without a streamer (none) every patch holds matter.
    std::optional<std::set<std::uint64_t>> matterChunks;

    // Working storage of moveBodies (see BodyScratch); tests set its plainWalks.
    BodyScratch bodyScratch;

    // ---- spawning species and rain of blocks ----

    // Builds a whole species as blocks standing on the origin (its lowest box bottom at origin.y),
    // bonded as the species says; nothing when it is empty or would take the list past 288.
    void spawnAssembly(const BioAssembly& species, const Vec3& origin, std::uint64_t patch);
    // Drops up to count random single blocks from 12 to 24 m above the square of the radius about
    // the centre; a block that would start inside something is left out.
    void rainBlocks(Physics& physics, const Vec3& center, double radius, std::uint32_t seed,
                    std::uint64_t count);

    // ---- replication: species keys and names ----

    // Copies at most two of the groups (organism indices by group root, in organism order, as
    // blockForces gathers them) that hold 1.8 times their volume in budget: each copy falls from
    // the sky into the replication area, parents and copy share the budget, and the species enters
    // the registry. A group that finds no free place within 16 tries is left as it is.
    void replicate(Physics& physics, const Vec3& focus,
                   const std::vector<std::vector<std::uint64_t>>& groups);

    // The canonical key of the assembly's bond graph coloured by ability (see canonicalTopologyKey):
    // equal exactly for isomorphic graphs, whatever the boxes' order, sizes and positions. Keys are
    // remembered per bond structure, so asking again for an unchanged group is a lookup.
    std::string topologyKey(const BioAssembly& assembly) const;
    // The species name of the assembly: "species-" and its key's FNV-1a-64 hash in lower-case hex.
    std::string speciesName(const BioAssembly& assembly) const;

  private:
    // Grey blocks become matter pieces owned by their patch's chunk while that chunk is loaded;
    // their bonds to live Connection blocks become world bonds to the new pieces.
    void grayBlocksToMatter(Physics& physics);
    bool patchHoldsMatter(std::uint64_t patch) const;
    // Appends the bond whose ends, strength and other orientation are known.
    void appendBond(const Organism& a, std::uint32_t b, bool toWorld, const Vec3& offset, double strength,
                    const Quaternion& otherOrientation);

    // Keys already computed; they change no result, only what asking again costs.
    mutable TopologyKeyCache topologyKeys_;
};

} // namespace zarn
