#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "physics/CompactionScratch.hpp"
#include "physics/Geometry.hpp"
#include "physics/Math.hpp"
#include "physics/Records.hpp"
#include "physics/StepScratch.hpp"
#include "physics/TopologyScratch.hpp"

namespace zarn {

// Result of Physics::trace; index is the piece's index (id - 1).
struct PieceHit {
    std::uint32_t index = 0;
    double distance = 0.0;
    Vec3 point;
    Vec3 normal;
    bool hit = false;
};

// Result of Physics::sweepBody; index is the piece's index (id - 1), 0xFFFFFFFF for none.
struct BodySweep {
    std::uint32_t index = 0xFFFFFFFFu;
    double fraction = 1.0;
    Vec3 position;
    Vec3 normal;
    bool hit = false;
};

// Bounds on the work of bonding matter read from a file: how many bonds it may make and how many
// pieces the search for touching neighbours may look at, per piece. The bonding may spend the share
// of all the pieces it bonds, and at any point no more than the share of the pieces bonded so far
// and `leeway` more (granted for the first pieces of a map that touch many, as a ground slab under a
// district does), so that a pile of coincident matter is refused a few pieces into it rather than
// once it has made every bond the whole map was allowed.
struct BondingBudget {
    std::uint64_t bondsPerPiece = ~std::uint64_t{0};
    std::uint64_t searchStepsPerPiece = ~std::uint64_t{0};
    std::uint64_t leeway = 0;

    // What `pieces` shares at `perPiece` each come to; saturates.
    static std::uint64_t allowance(std::uint64_t perPiece, std::uint64_t pieces) {
        return pieces != 0 && perPiece > ~std::uint64_t{0} / pieces ? ~std::uint64_t{0} : perPiece * pieces;
    }
};

// The mass of the alive building matter (pieces of building 0 or more) and of the part of it that
// no longer stands (not supported), kept by every topology refresh. Each piece counts in whole units
// of 2^-32 kg, so that the sums are exact whatever order the pieces change in, and never drift.
struct BuildingMass {
    static constexpr double unitsPerKg = 4294967296.0;
    // Sums of units, low word first.
    std::uint64_t total[2] = {0, 0};
    std::uint64_t loose[2] = {0, 0};
    // Per piece index: the units it counts with (0 none) and whether they are in the loose sum.
    std::vector<std::uint64_t> units;
    std::vector<std::uint8_t> isLoose;

    static std::uint64_t unitsOf(double mass) {
        // Whole units, rounded to nearest; no mass is below nothing, none above 2^62 units (10^9 kg).
        constexpr double most = 4611686018427387904.0;
        const double units = mass * unitsPerKg + 0.5;
        if (!(units >= 1.0))
            return 0;
        return units < most ? static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(most);
    }
    static double kilograms(const std::uint64_t (&sum)[2]);
    void clear();
    // Counts the piece at this index as it now is. A refresh counts every piece, and nearly all of
    // them count as they did: that case is settled here, the rest by recount.
    void count(std::size_t index, bool counted, bool loosePiece, double mass) {
        const std::uint64_t now = counted ? unitsOf(mass) : 0;
        const bool nowLoose = now != 0 && loosePiece;
        if (index < units.size() && units[index] == now && (isLoose[index] != 0) == nowLoose)
            return;
        recount(index, now, nowLoose);
    }
    // The piece at this index counts `now` units, in the loose sum or not.
    void recount(std::size_t index, std::uint64_t now, bool nowLoose);
    // Forgets the pieces from this index on (they are gone).
    void keepFirst(std::size_t count);
};

// The keys of the 32 m cells a piece is listed in, x outer and z inner. Most pieces lie in one
// cell, whose key the list holds in place; only a piece across cells keeps its keys on the heap, so
// that a world of a hundred thousand pieces does not make as many small allocations to list them.
class CellKeys {
  public:
    using const_iterator = const std::uint64_t*;
    using iterator = const_iterator;

    CellKeys() = default;
    CellKeys(const CellKeys& other) { assign(other.begin(), other.end()); }
    CellKeys(CellKeys&& other) noexcept : store_(other.store_), count_(other.count_) { other.count_ = 0; }
    CellKeys& operator=(const CellKeys& other) {
        if (this != &other)
            assign(other.begin(), other.end());
        return *this;
    }
    CellKeys& operator=(CellKeys&& other) noexcept {
        if (this != &other) {
            clear();
            store_ = other.store_;
            count_ = other.count_;
            other.count_ = 0;
        }
        return *this;
    }
    ~CellKeys() { clear(); }

    const std::uint64_t* begin() const { return count_ > 1 ? store_.many : &store_.one; }
    const std::uint64_t* end() const { return begin() + count_; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::uint64_t front() const { return *begin(); }
    void clear();
    void assign(const std::uint64_t* first, const std::uint64_t* last);
    bool operator==(const std::vector<std::uint64_t>& keys) const {
        return std::equal(begin(), end(), keys.begin(), keys.end());
    }

  private:
    // The one key in place, or the keys of a piece across cells on the heap.
    union Store {
        std::uint64_t one;
        std::uint64_t* many;
    } store_{0};
    std::uint32_t count_ = 0;
};

// Whether the topology awaits a refresh, and whether a change physics did not note itself asked for
// it. Code outside physics that writes pieces or bonds assigns true afterwards (as the loaders do);
// every such assignment counts, also while a refresh is already due, as it is while a chain of
// failures carries on from one refresh to the next. Physics marks its own changes with note(), which
// leaves the refresh free to redo only what it noted.
class TopologyFlag {
  public:
    TopologyFlag& operator=(bool dirty) {
        dirty_ = dirty;
        unnoted_ = unnoted_ || dirty;
        return *this;
    }
    operator bool() const { return dirty_; }
    // A change that physics noted.
    void note() { dirty_ = true; }
    // A refresh took in every change: the topology stays due only while a chain of failures goes
    // on, which the refresh noted.
    void settle(bool dirty) {
        dirty_ = dirty;
        unnoted_ = false;
    }
    bool unnoted() const { return unnoted_; }

  private:
    bool dirty_ = true;
    bool unnoted_ = true;
};

// The matter world: pieces, bonds, rigid assemblies, the 32 m grid, sounds and counters.
class Physics {
  public:
    // The most pieces (and bonds) the store holds: ids are u32 and 0 means none.
    static constexpr std::uint64_t maxPieces = 4294967294ull;
    static constexpr std::uint64_t maxBonds = 4294967294ull;
    static constexpr double cellSize = 32.0;

    struct GridEntry {
        Vec3 center;
        Vec3 halfExtents;
        Quaternion orientation;
        // The flag goes into the keys' padding: a hundred thousand entries are a megabyte smaller.
        [[no_unique_address]] CellKeys cells;
        bool alive = false;
    };

    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> cells;
    std::vector<GridEntry> gridEntries;
    double slideSoundAt = 0.0;
    std::vector<std::vector<std::uint64_t>> adjacency; // per piece, indices of its intact bonds
    // Code outside physics that writes pieces or bonds sets this (or calls refreshTopology or
    // rebuildGrid itself): physics notes only its own changes (see ChangeNotes).
    TopologyFlag topologyDirty;
    std::unordered_set<std::uint64_t> brokenPairs; // (min id << 32) | max id
    bool motionStopped = false;
    double wakeDeadline = -1.0;
    bool wakePending = false;
    std::vector<MatterPiece> pieces;
    std::vector<Bond> bonds;
    std::vector<Assembly> assemblies;
    std::vector<CollisionSound> sounds;
    std::uint64_t fractureCount = 0;
    std::uint64_t brokenBondCount = 0;
    std::uint64_t contactBondCount = 0;
    std::uint64_t contactTestCount = 0;
    std::uint64_t fullRefreshCount = 0; // topology refreshes that walked everything
    double time = 0.0;
    double groundLevel = -8.0;
    Vec3 gravity{0.0, -9.80665, 0.0};
    std::uint64_t motionLimit = 256;
    double linearDrag = 0.12;
    double angularDrag = 2.4;
    double contactDrag = 2.0;
    double contactAngularDrag = 12.0;
    double motionUntil = 10.0;
    double motionEndedAt = -1.0;
    std::vector<ExternalCollider> colliders;
    std::vector<ExternalImpulse> externalImpulses;

    // ---- store (records, grid, queries) ----
    // Returns the new piece's id, or 0 when the store is full or the piece is too large for the
    // grid to list (half extents longer than 2,000 m).
    std::uint32_t add(MatterPiece piece);
    // add as a change physics notes, for owners whose other changes are noted too (terrain chunks
    // streamed in and out): the next refresh walks only what the new piece reaches.
    std::uint32_t addNoted(const MatterPiece& piece);
    // The piece at this index is taken away by its owner (a terrain chunk that unloads): it dies,
    // and the next refresh takes that in as a change physics noted.
    void remove(std::uint32_t index);
    void clear();
    bool validate() const;
    std::uint64_t movingPieceCount() const;
    std::uint64_t aliveCount() const;
    std::uint64_t awakeCount() const;
    double totalMass() const;
    // Kilograms of alive building matter, and of the part of it that no longer stands; exact sums as
    // of the last topology refresh (see BuildingMass).
    double buildingMass() const { return BuildingMass::kilograms(buildingMassCounts.total); }
    double looseBuildingMass() const { return BuildingMass::kilograms(buildingMassCounts.loose); }
    void setGravity(const Vec3& g);
    static std::uint64_t gridKey(std::int64_t x, std::int64_t y, std::int64_t z);
    void rebuildGrid();
    std::vector<std::uint32_t> query(const Box& box) const;
    // The same answer written into `out` (cleared first), so that hot loops can reuse its storage.
    void query(const Box& box, std::vector<std::uint32_t>& out) const;
    PieceHit trace(const Vec3& origin, const Vec3& direction, double length) const;
    BodySweep sweepBody(const Polyhedron& body, const Vec3& displacement, double& depth) const;
    // The sweep of sweepBody against the alive pieces among these ids (ascending) alone: callers that
    // sweep one body several times over one query of the grid that holds all its sweeps.
    BodySweep sweepPieces(const std::vector<std::uint32_t>& ids, const Polyhedron& body,
                          const Vec3& displacement, double& depth) const;

    // ---- bonds, load paths and assemblies ----
    bool addBond(std::uint32_t a, std::uint32_t b);
    // The same without the store-size check, for callers that test the count themselves.
    bool addBondUnchecked(std::uint32_t a, std::uint32_t b);
    // Bonds every alive piece from id `first` on to the touching pieces older than `first` and newer
    // than itself, but for the pairs in brokenPairs, then refreshes the topology.
    void connectNew(std::uint32_t first);
    void connectTouching();
    // connectTouching within a budget: false, with the bonding left unfinished and the topology not
    // refreshed, as soon as the budget is spent.
    bool connectTouching(const BondingBudget& budget);
    void rebuildAdjacency();
    void refreshLoadPaths();
    void rebuildAssemblies();
    void updateMembers(const Assembly& assembly, const Vec3& previousCenter, const Quaternion& rotation);
    void refreshTopology();

    // ---- stepping and the motion window ----
    // End of the motion window: the short wake window's deadline while the long window is closed and a
    // contact impulse reopened it, otherwise motionUntil. Matter moves only while time is below it.
    double motionWindowEnd() const { return motionStopped && wakePending ? wakeDeadline : motionUntil; }
    void step(double dt);
    // Takes up the working storage of a step in which every piece moves, as a world is loaded: the
    // first step of a collapse then writes to memory it already has instead of taking up fresh
    // memory for all of it. Steps give the same results with or without it.
    void prepareStepStorage();
    void expireMotion();
    void stopMotion();
    void beginWeaponImpact();
    void contactImpulse(std::uint32_t id, const Vec3& impulse, const Vec3& point);
    void applyAssemblyImpulse(std::int32_t assembly, const Vec3& impulse, const Vec3& point, bool wake);
    void emitSound(const MatterPiece& piece, const Vec3& position, double energy, bool fractured,
                   double impulse);

    // ---- impacts, splitting and blasts ----
    void impact(std::uint32_t id, const Impact& hit);
    double stressAt(const Impact& hit, double distance) const;
    // The centre is taken by value: a blast centred on a piece's own centre must not move with the
    // piece while it splits.
    void blast(Vec3 center, double energy, double radius);

    // ---- history compaction ----
    // Drops the dead pieces and the broken bonds and renumbers the surviving pieces in their order.
    // Returns the renumbering (old id -> new id, 0 for a dropped piece), which stays in `compaction`
    // until the next compaction.
    const std::vector<std::uint32_t>& compactHistory();
    void reclaimHistoryIfNeeded();

    // ---- changes physics notes for its own refreshes (see ChangeNotes) ----
    // Sets topologyDirty for a change that physics noted.
    void noteTopologyChange();
    // Notes that the bonds, life or stress of the piece at this index changed.
    void notePiece(std::uint32_t index);
    // Notes that a hit wrote the stress of bond k or of the piece at this index, and nothing else.
    void noteBondStress(std::uint64_t k);
    void notePieceStress(std::uint32_t index);
    // Notes that the piece at this index may have moved or died.
    void noteMoved(std::uint32_t index);
    // The refresh physics starts itself: only the components the noted changes reach, or
    // everything when it cannot tell what changed. Gives the world refreshTopology gives.
    void refreshNotedTopology();
    // The grid update physics starts itself: only the pieces noted as moved, and the new ones.
    void rebuildNotedGrid();
    // The grid update of a refresh that compared every piece with the grid as it began: only the
    // pieces (by index, ascending) found changed then, and the new ones. Gives what rebuildGrid gives.
    void rebuildGridFor(const std::vector<std::uint32_t>& changed);

    // Working storage reused between calls and the notes of what changed; not part of the world's
    // state (never saved or compared).
    TopologyScratch topologyScratch;
    StepScratch stepScratch;
    ChangeNotes changes;
    CompactionScratch compaction;
    BuildingMass buildingMassCounts;
};

// Key of an unordered piece pair in brokenPairs.
inline std::uint64_t pairKey(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t lo = a < b ? a : b;
    const std::uint32_t hi = a < b ? b : a;
    return (static_cast<std::uint64_t>(lo) << 32) | hi;
}

} // namespace zarn
