#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "physics/Physics.hpp"
#include "planet/DayCycle.hpp"
#include "planet/EarthEngine.hpp"
#include "planet/Stars.hpp"
#include "world/WorldTrace.hpp"

namespace zarn {

struct Player;

// One building of a map or of the demolition city. Its pieces carry its index in
// MatterPiece::building.
struct Building {
    std::int32_t index = 0; // position in World::buildings
    Vec3 center;            // footprint centre, m; y is always 0
    double sizeX = 0.0;     // footprint size along x, m
    double sizeZ = 0.0;     // footprint size along z, m
    double height = 0.0;    // m
    std::string name;       // empty for generated buildings
    double extra = 0.0;     // the map's sixth building number, carried and saved only

    // The name, or "建筑 " and the building's number counted from 1 for an unnamed building.
    std::string label() const;
};

// The limits every building keeps, whether it comes from a map pack or from a save, so that a world
// that loads can always be saved: the footprint's centre at most 3000 m from the origin, each side
// 0.01 to 2000 m, the height 0.01 to 1000 m and the extra number 0 to 1e15. Any NaN fails them.
bool buildingFits(const Building& building);
// The limits every bond of a world keeps for the same reason: its face's centre at most 5000 m from
// the origin and its normal of length 0.99 to 1.01.
bool bondFits(const Bond& bond);

// The largest map pack the game reads, in bytes (32 MiB, as the largest save). A save holds every
// field a map gives a piece and twelve more, and the bonds besides, so a district whose map is any
// larger (written as the game writes its numbers) could never be saved.
constexpr std::uint64_t maxMapFileBytes = 33554432;

// Result of World::traceLine.
struct MatterHit {
    double distance = 0.0; // m along the ray; the full length when nothing was hit
    Vec3 point;
    std::int32_t building = -1; // building of the piece hit; -1 for none or matter of no building
    bool hit = false;
    std::int32_t piece = -1; // index of the piece hit in Physics::pieces, -1 none
    Vec3 normal;
};

// Matter of no building carries these negative building numbers.
namespace buildingTag {
constexpr std::int32_t ground = -1;
constexpr std::int32_t tree = -2;
constexpr std::int32_t lamp = -3;
constexpr std::int32_t crate = -4;
constexpr std::int32_t testGate = -5;
} // namespace buildingTag

// One playable world: the matter physics with its buildings and the Earth's day cycle. It is plain
// (the demolition city, the training ground or a district map) unless one of the optional Earth and
// star parts is engaged.
class World : public IWorldTrace {
  public:
    static constexpr double standardGravity = 9.80665;

    Physics physics;
    DayCycle dayCycle;
    // The Earth terrain streamer and the star system: both empty in a plain world; the Earth world
    // engages earth, the star world engages stars (and earth while the player stands on the Earth).
    std::optional<EarthEngine> earth;
    std::optional<Stars> stars;
    std::vector<Building> buildings;
    Vec3 terrainCell;                  // corner of the 256 m cell that holds the player
    Vec3 skyColor{0.42, 0.48, 0.49};   // linear RGB of sky and fog
    Vec3 spawnPoint{0.0, 0.0, -110.0}; // where the player starts and respawns
    std::string name = "城市破坏试验";
    std::string id = "procedural"; // "procedural", "training", "lujiazui", "earth" or "stars"

    // A new world is the demolition city.
    World();

    // One fixed step of the world around the player: the day, the sky, gravity and the terrain cell.
    void update(const Vec3& position, double dt, const Vec3& viewDirection);

    // Takes the terrain cell that holds the position afresh, as a new world does for its spawn point,
    // so that its first frame is drawn in the cell its first step keeps.
    void enterCellOf(const Vec3& position);

    // The one answer to "which way is up" for every user of the world.
    Vec3 gravityUp() const override;
    HullTrace traceHull(const Vec3& from, const Vec3& to, double radius, double height) const override;
    // Ray through the matter; the direction is a unit vector.
    MatterHit traceLine(const Vec3& origin, const Vec3& direction, double length) const;

    // Value destroyed so far: 10,000 per fracture and 25,000 per broken bond.
    double loss() const;
    // Percent of the building matter (by mass) that no longer stands.
    double destructionRate() const;
    // Detail level 0..3 for the horizontal distance between two points.
    int detail(const Vec3& a, const Vec3& b) const;

    // Rebuilds the world as the procedural demolition city.
    void reset();
    // Adds the test gate (two posts and a beam near z = -461) to the present matter and rebonds.
    void addTestStructures();
    // The training ground's demolition charge: a blast at the foot of the test gate's left post.
    void demolitionTest();

    // Reads the map pack at path (UTF-8) into a fresh world and installs it only when every check
    // passed; otherwise sets message to the reason and leaves this world as it was.
    bool loadMap(const std::string& path, std::string& message);
    // Sets the district of the map pack at mapPath on the Earth: the ecosystem catalogue is read from
    // "Earth/ecosystem.zarneco" beside the map's folder first, then the map, then the terrain streamer
    // with the organisms is engaged. On false the message is the failed reader's and the world is as
    // it was.
    bool loadEarth(const std::string& mapPath, std::string& message);

    // ---- the star world ----
    // Reads the district's map pack and sets it on the Earth among the stars: a new star system, a
    // copy of the district to come back to, and the Earth's terrain streamed around it without
    // organisms. On false the message says why and this world is as the map reader left it.
    bool loadStars(const std::string& path, std::string& message);
    // Keeps the matter in step with the body the player stands on: once another body is nearest and
    // within 10,000 km of its surface, the player's position moves into that body's frame and the
    // matter is rebuilt (the district again on the Earth, the body's own ground elsewhere). force
    // rebuilds even without a change. Nothing happens outside the star world.
    void syncStars(Player& player, bool force);

  private:
    // The Earth world's day in one step: the turn of the planet under the sun, the eye above the
    // player and the sky colour of the sun's height.
    void turnEarthDay(const Vec3& position, double dt);
    // The terrain cell of the player at `position`, held until the player is a little past its edge.
    void followTerrainCell(const Vec3& position);
    // The Earth's terrain streamed around the player and, in the Earth world, its organisms stepped.
    void streamEarth(const Vec3& position, double dt, const Vec3& viewDirection);
    // The star world's share of update: the bodies move, the sky and the gravity follow them.
    Vec3 updateStars(const Vec3& position, double dt);
    // Away from the Earth the star world builds the ground of the body under the player and takes
    // the gravity again, with that matter in place.
    void updateStarSurface(const Vec3& position);
    // The matter of the frame body, after a change of frame or when asked: the district on the
    // Earth, nothing elsewhere (the next update builds that body's ground).
    void rebuildStarSurroundings();
};

// Where the Earth world looks for its ecosystem catalogue: the folder above the map pack's folder,
// joined with "Earth/ecosystem.zarneco" (relative when the map path names no folder).
std::filesystem::path ecosystemCatalogueBeside(const std::filesystem::path& mapPath);

} // namespace zarn
