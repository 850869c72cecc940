#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "physics/Math.hpp"
#include "physics/Physics.hpp"

namespace zarn::bench {

// A storeyed frame tower: a grid of columns (three 1 m cubes per storey at every bay corner), beams
// (1 x 0.5 x 1 m pieces between the column tops along the bay lines) and a floor slab of
// 1 x 0.5 x 1 m pieces over the whole footprint, all standing on one anchored ground slab. Bays
// are 4 m wide, storeys 3.5 m high.
struct TowerShape {
    int storeys = 6;
    int baysX = 2;
    int baysZ = 2;
};

// Pieces one tower of this shape adds (ground slab included).
std::size_t towerPieceCount(const TowerShape& shape);

// Footprint width of a tower along x (or z with baysZ), m.
double towerWidth(int bays);

// Adds one tower whose footprint starts at (corner.x, corner.z) and whose ground slab's top is at
// corner.y. Does not bond anything; returns the first id added.
std::uint32_t addTower(Physics& physics, const Vec3& corner, const TowerShape& shape, std::int32_t building);

// Clears the world and builds one bonded tower at the origin.
void makeTower(Physics& physics, const TowerShape& shape = {});

// Clears the world and builds rows of bonded six-storey towers (2 x 2 bays, 865 pieces each),
// about targetPieces in all (at least one tower). The world stands under its own weight.
void makeFrameWorld(Physics& physics, std::size_t targetPieces);

// Processor seconds of this process, which other work on the machine does not add to: the
// benchmarks run on one thread.
inline double processorSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Times of single steps, for the mean and the worst step of a run: wall-clock times taken here, or
// times the caller measured itself.
class StepClock {
  public:
    template <class Step> double time(Step&& step) {
        const auto start = std::chrono::steady_clock::now();
        step();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        record(seconds);
        return seconds;
    }
    void record(double seconds) {
        total_ += seconds;
        worst_ = std::max(worst_, seconds);
        ++steps_;
    }
    double totalSeconds() const { return total_; }
    double meanMs() const { return steps_ == 0 ? 0.0 : 1000.0 * total_ / static_cast<double>(steps_); }
    double worstMs() const { return 1000.0 * worst_; }
    std::uint64_t steps() const { return steps_; }

  private:
    double total_ = 0.0;
    double worst_ = 0.0;
    std::uint64_t steps_ = 0;
};

// The alive piece whose centre is nearest to the point (0 when none is alive).
std::uint32_t nearestPiece(const Physics& physics, const Vec3& point);

// Clears the world and scatters about `pieces` loose 1 m cubes, 2 m apart, on one anchored ground
// slab: each cube rests on the slab on its own, as rubble does after a collapse.
void makeRubbleField(Physics& physics, std::size_t pieces);

} // namespace zarn::bench
