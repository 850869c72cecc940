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
constexpr Vec3 block{0.4, 0.4, 0.4};
constexpr Vec3 small{0.3, 0.3, 0.3};
// A Connection plate between two blocks of a chain along x: thin, so that its bonds cost little, and
// flat, so that a plate left alone lies on a face it does not bond on.
constexpr Vec3 plateX{0.2, 0.1, 0.4};
constexpr Vec3 west{-1.0, 0.0, 0.0};
constexpr Vec3 north{0.0, 0.0, 1.0};
constexpr Vec3 south{0.0, 0.0, -1.0};

// Bonding faces of a box (bit i for face i: +x, -x, +y, -y, +z, -z).
constexpr std::uint32_t allFaces = 63;
constexpr std::uint32_t plusX = 1;
constexpr std::uint32_t minusX = 2;
constexpr std::uint32_t plusZ = 16;
constexpr std::uint32_t minusZ = 32;

// Bonds as strong as a face allows: they hold when a copy's fall from the sky ends on a face.
constexpr double strong = 100000.0;
constexpr double plain = 800.0;
// A seed store of 3.5 per m³: a species copies itself once as soon as there is room, and each half
// then holds 1.75 per m³, over ten minutes of upkeep and slow thrust without food.
constexpr double seeded = 3.5;
// Thrust is paid per metre crawled whatever the power (the ground's drag grows with speed), so the
// movers crawl slowly, to the Cube beside them, and spend little while they wait.
constexpr double crawl = 0.5;

// Group A: assemblies that live. A species stands 5 m east of the ground point it was drawn at, where
// its patch's first Cube often stands: the movers crawl west, mouth first, a metre or two to it, and a
// Cube eaten (6) is worth several copies. Every thrust axis points through the assembly's centre of
// mass, so that thrust drives an assembly without spinning it. Connection boxes are thin plates (a
// bond's upkeep is paid per m³ of its Connection box) and bond only on the faces their own bonds use:
// the world's pieces have their centres metres away, and a bond to one breaks at the first turn.
// clang-format off
const std::vector<SpeciesRow> livingTable{
    // A thruster behind a thin plate, and a wide mouth in front.
    {"wide-grazer", {},
     {// ability position          half               axis   budget orientation power N/m²    faces
      {A,       {-2.5, 0.0, 0.0},  {0.1, 0.3, 1.2},   west,  seeded, upright,    0.0,  plain,  allFaces},
      {C,       {-2.2, 0.0, 0.0},  {0.2, 0.1, 0.3},   north, seeded, upright,    0.0,  strong, plusX | minusX},
      {T,       {-1.7, 0.0, 0.0},  small,             west,  seeded, upright,    crawl, plain,  allFaces}},
     {{0, 1}, {1, 2}}},
    // A mouth in front, a plate, a thruster behind.
    {"forager-chain", {},
     {{A,       {-2.6, 0.0, 0.0},  block,             west,  seeded, upright,    0.0,  plain,  allFaces},
      {C,       {-2.0, 0.0, 0.0},  plateX,            north, seeded, upright,    0.0,  strong, plusX | minusX},
      {T,       {-1.4, 0.0, 0.0},  block,             west,  seeded, upright,    crawl, plain,  allFaces}},
     {{0, 1}, {1, 2}}},
    // Four bars about an open middle: each touches the next on a face and its opposite not at all.
    // The Connection bars are thin and held clear of the ground by their bonds.
    {"ring-of-four", {},
     {{C,       {-2.4, 0.0, -0.6}, {0.6, 0.1, 0.3},   north, seeded, upright,    0.0,  strong, plusX | plusZ},
      {T,       {-1.5, 0.0, -0.3}, {0.3, 0.3, 0.6},   {-0.8944271909999159, 0.0, 0.4472135954999579},
                                                             seeded, upright,    crawl, plain,  allFaces},
      {C,       {-1.8, 0.0, 0.6},  {0.6, 0.1, 0.3},   north, seeded, upright,    0.0,  strong, minusX | minusZ},
      {A,       {-2.7, 0.0, 0.3},  {0.3, 0.3, 0.6},   west,  seeded, upright,    0.0,  plain,  allFaces}},
     {{0, 1}, {1, 2}, {2, 3}, {0, 3}}},
    // A small hub with a thruster behind and two mouths to the sides, all looking west.
    {"three-armed-star", {},
     {{C,       {-2.6, 0.0, 0.0},  {0.25, 0.1, 0.25},  north, seeded, upright,   0.0,  strong, plusX | plusZ | minusZ},
      {T,       {-2.05, 0.0, 0.0}, small,             west,  seeded, upright,    crawl, plain,  allFaces},
      {A,       {-2.65, 0.0, 0.55}, small,            west,  seeded, upright,    0.0,  plain,  allFaces},
      {A,       {-2.65, 0.0, -0.55}, small,           west,  seeded, upright,    0.0,  plain,  allFaces}},
     {{0, 1}, {0, 2}, {0, 3}}},
    // The forager chain of flat boxes turned a quarter about y: the chain runs along world x over the
    // boxes' own z faces, the only faces they bond on.
    {"turned-chain", {"forager-chain"},
     {{T,       {-1.7, 0.0, 0.0},  {0.6, 0.4, 0.3},   south, seeded, quarterTurnY, crawl, plain, plusZ},
      {C,       {-2.2, 0.0, 0.0},  {0.6, 0.1, 0.2},   north, seeded, quarterTurnY, 0.0, strong, plusZ | minusZ},
      {A,       {-2.7, 0.0, 0.0},  {0.6, 0.4, 0.3},   south, seeded, quarterTurnY, 0.0, plain, minusZ}},
     {{0, 1}, {1, 2}}},
    // A plate and a mouth that stay where they stand: the cheapest to keep.
    {"budding-pair", {"forager-chain"},
     {{C,       {-2.1, 0.0, 0.0},  {0.2, 0.1, 0.3},   north, seeded, upright,    0.0,  strong, minusX},
      {A,       {-2.6, 0.0, 0.0},  small,             west,  seeded, upright,    0.0,  plain,  allFaces}},
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
