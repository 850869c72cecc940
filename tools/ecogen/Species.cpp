#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Ecogen.hpp"
#include "ecology/BoxFrame.hpp"
#include "ecology/Catalogue.hpp"

namespace zarn::ecogen {

namespace {

// One box of a species as the table gives it, in the order of the file's box record. The mass budget
// is given per m³ of the box: 1 feeds its abilities fully, and a species whose boxes hold 1.8 or more
// copies itself.
struct BoxRow {
    Ability ability;
    Vec3 position; // in the species' frame
    Vec3 half;
    Vec3 axis; // the direction of the ability, in the box's own frame
    double budget;
    Quaternion orientation;
    double power;
    double strengthPerArea;
    std::uint32_t faceMask;
};

struct SpeciesRow {
    const char* name;
    std::vector<const char*> ancestors;
    std::vector<BoxRow> boxes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bonds; // box indices, lower first
};

constexpr Ability T = Ability::Thrust;
constexpr Ability A = Ability::Absorption;
constexpr Ability C = Ability::Connection;

constexpr double halfRoot2 = std::numbers::sqrt2 / 2.0;
constexpr Quaternion upright{};
// A quarter turn about y: the box's +z face looks along world +x, its +x face along world -z.
constexpr Quaternion quarterTurnY{halfRoot2, 0.0, halfRoot2, 0.0};

constexpr Vec3 cube{0.5, 0.5, 0.5};
constexpr Vec3 small{0.4, 0.4, 0.4};
constexpr Vec3 east{1.0, 0.0, 0.0};
constexpr Vec3 west{-1.0, 0.0, 0.0};
constexpr Vec3 north{0.0, 0.0, 1.0};

// Bonding faces of a box (bit i for face i: +x, -x, +y, -y, +z, -z).
constexpr std::uint32_t allFaces = 63;
constexpr std::uint32_t plusZ = 16;
constexpr std::uint32_t minusZ = 32;

// Group A: assemblies that live. Every thrust axis points through the assembly's centre of mass, so
// that thrust drives an assembly without spinning it. Budgets of 1 per m³ keep them from copying
// themselves, but for the budding pair, which is rich enough to copy itself as soon as it is placed.
// clang-format off
const std::vector<SpeciesRow> livingTable{
    {"twin-thruster", {},
     {// ability position         half   axis   budget orientation power N/m²  faces
      {C,       {0.0, 0.0, 0.0},  cube,  north, 1.0,   upright,    0.0,  3000, allFaces},
      {T,       {1.0, 0.0, 0.0},  cube,  east,  1.0,   upright,    3.0,  800,  allFaces}},
     {{0, 1}}},
    // A thruster behind, a mouth in front.
    {"forager-chain", {},
     {{T,       {-1.0, 0.0, 0.0}, cube,  east,  1.0,   upright,    3.0,  800,  allFaces},
      {C,       {0.0, 0.0, 0.0},  cube,  north, 1.0,   upright,    0.0,  3000, allFaces},
      {A,       {1.0, 0.0, 0.0},  cube,  east,  1.0,   upright,    0.0,  800,  allFaces}},
     {{0, 1}, {1, 2}}},
    // Four in a square; the thruster pushes towards the middle, the mouth faces out.
    {"ring-of-four", {},
     {{C,       {0.0, 0.0, 0.0},  cube,  north, 1.0,   upright,    0.0,  3000, allFaces},
      {T,       {1.0, 0.0, 0.0},  cube,  {-halfRoot2, 0.0, halfRoot2},
                                         1.0,   upright,    2.0,  800,  allFaces},
      {C,       {1.0, 0.0, 1.0},  cube,  north, 1.0,   upright,    0.0,  3000, allFaces},
      {A,       {0.0, 0.0, 1.0},  cube,  north, 1.0,   upright,    0.0,  800,  allFaces}},
     {{0, 1}, {1, 2}, {2, 3}, {0, 3}}},
    // A hub with a thruster behind and two mouths to the sides.
    {"three-armed-star", {},
     {{C,       {0.0, 0.0, 0.0},  cube,  north, 1.0,   upright,    0.0,  3000, allFaces},
      {T,       {0.0, 0.0, 1.0},  cube,  north, 1.0,   upright,    3.0,  800,  allFaces},
      {A,       {1.0, 0.0, 0.0},  cube,  east,  1.0,   upright,    0.0,  800,  allFaces},
      {A,       {-1.0, 0.0, 0.0}, cube,  west,  1.0,   upright,    0.0,  800,  allFaces}},
     {{0, 1}, {0, 2}, {0, 3}}},
    // The forager chain of flat boxes turned a quarter about y: the chain runs along world x over the
    // boxes' own z faces, the only faces they bond on.
    {"turned-chain", {"forager-chain"},
     {{T,       {-0.6, 0.0, 0.0}, {0.6, 0.4, 0.3}, north, 1.0, quarterTurnY, 3.0, 800, plusZ},
      {C,       {0.0, 0.0, 0.0},  {0.6, 0.4, 0.3}, north, 1.0, quarterTurnY, 0.0, 3000, plusZ | minusZ},
      {A,       {0.6, 0.0, 0.0},  {0.6, 0.4, 0.3}, north, 1.0, quarterTurnY, 0.0, 800, minusZ}},
     {{0, 1}, {1, 2}}},
    {"budding-pair", {"twin-thruster"},
     {{C,       {0.0, 0.0, 0.0},  small, north, 2.0,   upright,    0.0,  3000, allFaces},
      {A,       {0.8, 0.0, 0.0},  small, east,  2.0,   upright,    0.0,  800,  allFaces}},
     {{0, 1}}},
};

// Group B: dead structures, with nothing to live on.
const std::vector<SpeciesRow> deadTable{
    {"stone-pillar", {},
     {{C,       {0.0, 0.0, 0.0},  cube,  north, 0.0,   upright,    0.0,  3000, allFaces},
      {C,       {0.0, 1.0, 0.0},  cube,  north, 0.0,   upright,    0.0,  3000, allFaces},
      {C,       {0.0, 2.0, 0.0},  cube,  north, 0.0,   upright,    0.0,  3000, allFaces},
      {C,       {0.0, 3.0, 0.0},  cube,  north, 0.0,   upright,    0.0,  3000, allFaces}},
     {{0, 1}, {1, 2}, {2, 3}}},
    // A trunk of three, a wide crown and a top.
    {"dead-tree", {},
     {{C,       {0.0, 0.0, 0.0},  {0.25, 0.6, 0.25}, north, 0.0, upright, 0.0,  3000, allFaces},
      {C,       {0.0, 1.2, 0.0},  {0.25, 0.6, 0.25}, north, 0.0, upright, 0.0,  3000, allFaces},
      {C,       {0.0, 2.4, 0.0},  {0.25, 0.6, 0.25}, north, 0.0, upright, 0.0,  3000, allFaces},
      {C,       {0.0, 3.5, 0.0},  {1.2, 0.5, 1.2},   north, 0.0, upright, 0.0,  3000, allFaces},
      {C,       {0.0, 4.4, 0.0},  {0.6, 0.4, 0.6},   north, 0.0, upright, 0.0,  3000, allFaces}},
     {{0, 1}, {1, 2}, {2, 3}, {3, 4}}},
};
// clang-format on

// A bond as the two boxes stand: anchor and rotation exactly from their positions and orientations,
// and as strong as the touching faces allow.
void addBond(BioAssembly& species, std::uint64_t i, std::uint64_t j) {
    const BioTemplate& first = species.boxes.at(i);
    const BioTemplate& second = species.boxes.at(j);
    const Vec3 anchor = first.orientation.rotateInverse(second.position - first.position);
    const Quaternion rotation = relativeRotation(first.orientation, second.orientation);
    const double strength =
        catalogue::strengthLimit(first, second, catalogue::placeSecond(first, anchor, rotation));
    if (!(i < j && strength > 0.0)) {
        throw std::runtime_error(species.name + ": boxes " + std::to_string(i) + " and " + std::to_string(j) +
                                 " do not touch on a bonding face of a Connection box");
    }
    species.bonds.emplace_back(i, j);
    species.strengths.push_back(strength);
    species.anchors.push_back(anchor);
    species.rotations.push_back(rotation);
}

BioAssembly assemble(const SpeciesRow& row) {
    BioAssembly species;
    species.name = row.name;
    species.ancestors.assign(row.ancestors.begin(), row.ancestors.end());
    species.count = 1;
    for (const BoxRow& b : row.boxes) {
        BioTemplate box;
        box.ability = b.ability;
        box.position = b.position;
        box.halfExtents = b.half;
        box.axis = b.axis;
        box.massBudget = b.budget * boxVolume(b.half);
        box.orientation = b.orientation;
        box.power = b.power;
        box.strengthPerArea = b.strengthPerArea;
        box.faceMask = b.faceMask;
        species.boxes.push_back(box);
    }
    for (const auto& [i, j] : row.bonds)
        addBond(species, i, j);
    return species;
}

std::vector<BioAssembly> assembleAll(const std::vector<SpeciesRow>& table) {
    std::vector<BioAssembly> species;
    for (const SpeciesRow& row : table)
        species.push_back(assemble(row));
    return species;
}

} // namespace

std::vector<BioAssembly> livingSpecies() {
    return assembleAll(livingTable);
}

std::vector<BioAssembly> deadStructures() {
    return assembleAll(deadTable);
}

BioAssembly limitSpecies() {
    // Layers of twenty strips 4 m long, crossing from layer to layer like a weave, so that every strip
    // touches the twenty of the next layer: a lattice of cubes could hold at most three bonds a box.
    constexpr std::uint64_t perLayer = 20;
    constexpr double width = 0.2;
    SpeciesRow row{"limit-weave", {}, {}, {}};
    for (std::uint64_t k = 0; k < catalogue::maxBoxes; ++k) {
        const std::uint64_t layer = k / perLayer;
        const double across = (static_cast<double>(k % perLayer) - 9.5) * width;
        const double height = static_cast<double>(layer) * width;
        const bool alongX = layer % 2 == 0;
        row.boxes.push_back({C, alongX ? Vec3{0.0, height, across} : Vec3{across, height, 0.0},
                             alongX ? Vec3{2.0, 0.1, 0.1} : Vec3{0.1, 0.1, 2.0}, north, 1.0, upright, 0.0,
                             1000.0, allFaces});
    }
    constexpr std::uint64_t crossings = perLayer * perLayer;
    for (std::uint64_t n = 0; n < catalogue::maxBondsPerBox * catalogue::maxBoxes; ++n) {
        const std::uint64_t layer = n / crossings;
        row.bonds.emplace_back(layer * perLayer + n % crossings / perLayer,
                               (layer + 1) * perLayer + n % perLayer);
    }
    return assemble(row);
}

} // namespace zarn::ecogen
