#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "planet/EarthEngine.hpp"
#include "planet/OverviewPatches.hpp"

namespace zarn {

namespace {

constexpr double sphereRadius = EarthModel::radius;
// The planet's centre lies this far below the world origin; patch centres subtract it, so the
// arithmetic stays in double throughout.
constexpr Vec3 planetCenter{0.0, -EarthModel::centreDepth, 0.0};
// A patch that looks smaller than this (in radians, roughly) from the eye is not split further.
constexpr double leafAngle = 0.12;
constexpr std::int32_t deepestSplitLevel = 17;
// Leaves and queued patches together stay near this many.
constexpr std::size_t patchBudget = 1019;
// Patches lying this far behind the view (in cosine, widened by their own angular size) are culled.
constexpr double behindCosine = -0.2;
// The streamed chunks cover the ground within this distance of the eye, and the district's matter
// its square while the eye is near it.
constexpr double nearGround = 480.0;
constexpr double districtReach = 2600.0;
constexpr double districtMargin = 1100.0;
constexpr double districtDepth = -2000.0;
// Boxes reach 64 m below the surface besides the sphere's drop over their radius.
constexpr double slabDepth = 64.0;
constexpr double sphereDiameter = 2.0 * sphereRadius;

PatchPlace placeOf(const OverviewPatch& patch) {
    const Vec3 c = patch.origin + patch.axisU * patch.offsetU + patch.axisV * patch.offsetV;
    const double r = sphereRadius * patch.size;
    const double reach = length(c);
    if (reach <= 1e-9)
        return {planetCenter, {}, r};
    const Vec3 center = c * sphereRadius / reach + planetCenter;
    return {center, normalized(center - planetCenter), r};
}

// The angular size of the patch at its place from the eye, or none when it is culled.
std::optional<double> priorityAt(const PatchPlace& place, const Vec3& eye, const Vec3& forward) {
    if (dot(eye - place.center, place.up) < -place.radius)
        return std::nullopt; // beyond the horizon, facing away
    const Vec3 toPatch = place.center - eye;
    const double d = length(toPatch);
    const double k = d > 1e-9 ? dot(toPatch / d, forward) : 0.0;
    const double a = d > 1.0 ? place.radius / d : place.radius;
    if (k < behindCosine - a)
        return std::nullopt; // behind the viewer
    return a;
}

// The heap of queued patches, largest priority first. The patches stay where they were queued and
// the heap moves their indices; of equal priorities the first queued leaves first, so that every
// standard library picks the same patches.
class PatchQueue {
  public:
    PatchQueue(const Vec3& eye, const Vec3& forward, OverviewScratch& scratch)
        : eye_(eye), forward_(forward), patches_(scratch.patches), places_(scratch.places),
          heap_(scratch.heap) {
        patches_.clear();
        places_.clear();
        heap_.clear();
    }

    // Queues the patch unless it is culled.
    void push(OverviewPatch patch) {
        const PatchPlace place = placeOf(patch);
        const std::optional<double> priority = priorityAt(place, eye_, forward_);
        if (!priority)
            return;
        patch.priority = *priority;
        heap_.push_back(static_cast<std::uint32_t>(patches_.size()));
        patches_.push_back(patch);
        places_.push_back(place);
        std::push_heap(heap_.begin(), heap_.end(), Before{patches_});
    }
    std::uint32_t pop() {
        std::pop_heap(heap_.begin(), heap_.end(), Before{patches_});
        const std::uint32_t index = heap_.back();
        heap_.pop_back();
        return index;
    }
    bool empty() const { return heap_.empty(); }
    std::size_t size() const { return heap_.size(); }
    const OverviewPatch& patch(std::uint32_t index) const { return patches_[index]; }
    const PatchPlace& place(std::uint32_t index) const { return places_[index]; }

  private:
    // The heap's order: a leaves after b when its priority is smaller, or equal and queued later.
    struct Before {
        const std::vector<OverviewPatch>& patches;
        bool operator()(std::uint32_t a, std::uint32_t b) const {
            const double pa = patches[a].priority;
            const double pb = patches[b].priority;
            return pa != pb ? pa < pb : a > b;
        }
    };

    Vec3 eye_;
    Vec3 forward_;
    std::vector<OverviewPatch>& patches_;
    std::vector<PatchPlace>& places_;
    std::vector<std::uint32_t>& heap_;
};

// The six faces, for s = -1 then +1: the x face, the y face, the z face.
void queueFaces(PatchQueue& queue) {
    const Vec3 x{1.0, 0.0, 0.0};
    const Vec3 y{0.0, 1.0, 0.0};
    const Vec3 z{0.0, 0.0, 1.0};
    for (const double s : {-1.0, 1.0}) {
        queue.push({x * s, y, z});
        queue.push({y * s, x, z});
        queue.push({z * s, x, y});
    }
}

// Splits the patches that look large, largest first, until the budget is spent; the leaves are
// listed by their indices in the queue.
void refine(PatchQueue& queue, std::vector<std::uint32_t>& leaves) {
    leaves.clear();
    while (!queue.empty()) {
        const std::uint32_t index = queue.pop();
        const OverviewPatch patch = queue.patch(index);
        if (patch.priority <= leafAngle || patch.level > deepestSplitLevel ||
            leaves.size() + queue.size() > patchBudget) {
            leaves.push_back(index);
            continue;
        }
        for (const double su : {-1.0, 1.0}) {
            for (const double sv : {-1.0, 1.0}) {
                OverviewPatch child = patch;
                child.offsetU = patch.offsetU + su * patch.size / 4.0;
                child.offsetV = patch.offsetV + sv * patch.size / 4.0;
                child.size = patch.size / 2.0;
                child.level = patch.level + 1;
                queue.push(child);
            }
        }
    }
}

// The shortest rotation that takes +y to up.
Quaternion turnedUp(const Vec3& up) {
    const Quaternion q{1.0 + up.y, up.z, 0.0, -up.x};
    const double norm = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (norm <= 1e-8)
        return {0.0, 1.0, 0.0, 0.0};
    return {q.w / norm, q.x / norm, q.y / norm, q.z / norm};
}

} // namespace

std::optional<double> overviewPriority(const OverviewPatch& patch, const Vec3& eye, const Vec3& forward) {
    return priorityAt(placeOf(patch), eye, forward);
}

void EarthEngine::updateOverview(Vec3 eye, Vec3 forward) {
    PatchQueue queue(eye, forward, scratch.patches);
    queueFaces(queue);
    std::vector<std::uint32_t>& leaves = scratch.patches.leaves;
    refine(queue, leaves);

    overview.clear();
    overview.reserve(leaves.size());
    const bool nearDistrict = length(eye) <= districtReach;
    for (const std::uint32_t leaf : leaves) {
        const PatchPlace& place = queue.place(leaf);
        const Vec3& p = place.center;
        const double r = place.radius;
        if (length(p - eye) - r < nearGround)
            continue;
        if (nearDistrict && std::abs(p.x) < r + districtMargin && std::abs(p.z) < r + districtMargin &&
            p.y > districtDepth)
            continue;
        const Vec3 where = EarthModel::coordinates(p);
        const EarthRegion region = model.sample(where.x, where.y, 0.25);
        const double surface = model.surface(p.x, p.z, EarthModel::onFarSide(p));
        double height = region.elevation > 0.0 ? region.elevation : 0.0;
        if (std::isfinite(surface))
            height = EarthModel::altitude({p.x, surface, p.z});

        MatterPiece piece;
        const double halfHeight = (r * r / sphereDiameter + slabDepth) / 2.0;
        piece.body.halfExtents = {0.58 * r, halfHeight, 0.58 * r};
        piece.body.center = p + place.up * (height - halfHeight);
        piece.body.orientation = turnedUp(place.up);
        piece.color = EarthModel::color(region.biome);
        piece.groundLevel = 1e30;
        piece.stateTime = -1.0;
        overview.push_back(piece);
    }
}

} // namespace zarn
