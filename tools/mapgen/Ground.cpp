#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Mapgen.hpp"
#include "physics/Hash.hpp"

namespace zarn::mapgen {

namespace {

// The district's ground: the rectangle the Earth world leaves to the map.
constexpr double westEdge = -896.0;
constexpr double eastEdge = 768.0;
constexpr double southEdge = -768.0;
constexpr double northEdge = 896.0;

struct Point {
    double x;
    double z;
};

// The Pudong bank of the Huangpu, walked from the south with the river on the left: it runs north
// past the Bund on the far side, turns east at the tip of Lujiazui north of the Oriental Pearl
// Tower and leaves the district to the east-north-east. It starts and ends outside the rectangle.
constexpr std::array<Point, 11> riverBank{{{-560.0, -800.0},
                                           {-555.0, 0.0},
                                           {-550.0, 300.0},
                                           {-535.0, 420.0},
                                           {-500.0, 520.0},
                                           {-440.0, 590.0},
                                           {-340.0, 640.0},
                                           {-180.0, 670.0},
                                           {50.0, 690.0},
                                           {350.0, 720.0},
                                           {800.0, 762.0}}};

struct Road {
    Point a;
    Point b;
    double width;
};

// The streets, as centre lines and widths.
constexpr std::array<Road, 19> roads{{
    // Century Avenue: from the Lujiazui roundabout south of the Pearl Tower to the south-east.
    {{-330.0, 190.0}, {800.0, -396.5}, 56.0},
    // Lujiazui Ring Road around the central green, closing on Century Avenue.
    {{-330.0, 190.0}, {-280.0, 360.0}, 24.0},
    {{-280.0, 360.0}, {-40.0, 430.0}, 24.0},
    {{-40.0, 430.0}, {240.0, 360.0}, 24.0},
    {{240.0, 360.0}, {400.0, 140.0}, 24.0},
    {{400.0, 140.0}, {420.0, -60.0}, 24.0},
    {{420.0, -60.0}, {430.0, -190.0}, 24.0},
    // Yincheng Middle Road, south from the roundabout past the bank towers.
    {{-240.0, 175.0}, {-240.0, -800.0}, 24.0},
    // The riverside roads on the west bank, and West Lujiazui Road to the roundabout.
    {{-490.0, 190.0}, {-490.0, -800.0}, 20.0},
    {{-490.0, 190.0}, {-330.0, 190.0}, 20.0},
    // Huayuanshiqiao Road, from the river to Century Avenue.
    {{-560.0, -60.0}, {150.0, -60.0}, 20.0},
    // The cross street between the Jin Mao Tower and the Shanghai Tower.
    {{-240.0, -320.0}, {560.0, -320.0}, 20.0},
    {{300.0, -150.0}, {300.0, -500.0}, 20.0},
    // The street south of the towers.
    {{-560.0, -500.0}, {800.0, -500.0}, 24.0},
    // Pudong South Road.
    {{560.0, 770.0}, {560.0, -800.0}, 32.0},
    // The riverside road on the north bank, past the Tomson Riviera.
    {{-280.0, 360.0}, {-300.0, 540.0}, 20.0},
    {{-300.0, 540.0}, {200.0, 650.0}, 20.0},
    {{200.0, 650.0}, {800.0, 703.0}, 20.0},
    {{260.0, 350.0}, {260.0, 652.0}, 20.0},
}};

// The central green north of the Jin Mao Tower, with its lake.
constexpr Point greenCenter{60.0, 150.0};
constexpr double greenRadius = 175.0;
constexpr Point lakeCenter{90.0, 140.0};
constexpr double lakeRadius = 36.0;
// The paved riverside walk and the lawns behind it.
constexpr double promenadeWidth = 24.0;
constexpr double riversideLawnWidth = 56.0;

enum class Kind : std::uint8_t { river, lake, promenade, road, grass, plaza, block };

V3 groundColor(Kind kind) {
    switch (kind) {
    case Kind::river:
        return {0.13, 0.24, 0.27};
    case Kind::lake:
        return {0.15, 0.27, 0.28};
    case Kind::promenade:
        return {0.45, 0.44, 0.40};
    case Kind::road:
        return {0.19, 0.215, 0.21};
    case Kind::grass:
        return {0.22, 0.34, 0.17};
    case Kind::plaza:
        return {0.40, 0.40, 0.37};
    case Kind::block:
        break;
    }
    return {0.31, 0.34, 0.29};
}

double distanceToSegment(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x;
    const double dz = b.z - a.z;
    const double l2 = dx * dx + dz * dz;
    double t = l2 > 0.0 ? ((p.x - a.x) * dx + (p.z - a.z) * dz) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.z - (a.z + t * dz));
}

double distanceToBank(const Point& p) {
    double best = 1e30;
    for (std::size_t i = 0; i + 1 < riverBank.size(); ++i) {
        best = std::min(best, distanceToSegment(p, riverBank[i], riverBank[i + 1]));
    }
    return best;
}

// The river is the polygon of the bank closed round the rectangle's west and north sides.
bool inRiver(const Point& p) {
    std::vector<Point> polygon(riverBank.begin(), riverBank.end());
    polygon.push_back({800.0, 930.0});
    polygon.push_back({-930.0, 930.0});
    polygon.push_back({-930.0, -800.0});
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Point& a = polygon[i];
        const Point& b = polygon[j];
        if ((a.z > p.z) != (b.z > p.z) && p.x < (b.x - a.x) * (p.z - a.z) / (b.z - a.z) + a.x) {
            inside = !inside;
        }
    }
    return inside;
}

bool onRoad(const Point& p, double margin = 0.0) {
    for (const Road& road : roads) {
        if (distanceToSegment(p, road.a, road.b) <= road.width / 2.0 + margin) {
            return true;
        }
    }
    return false;
}

bool nearBuilding(const District& district, const Point& p, double margin) {
    for (const BuildingRow& b : district.buildings) {
        if (b.footprint().grown(margin).contains(p.x, p.z)) {
            return true;
        }
    }
    return false;
}

Kind classify(const District& district, const Point& p) {
    if (inRiver(p)) {
        return Kind::river;
    }
    const double bank = distanceToBank(p);
    if (bank <= promenadeWidth) {
        return Kind::promenade;
    }
    if (onRoad(p)) {
        return Kind::road;
    }
    if (std::hypot(p.x - lakeCenter.x, p.z - lakeCenter.z) <= lakeRadius) {
        return Kind::lake;
    }
    if (std::hypot(p.x - greenCenter.x, p.z - greenCenter.z) <= greenRadius) {
        return Kind::grass;
    }
    if (nearBuilding(district, p, 12.0) || std::hypot(p.x - spawnPoint.x, p.z - spawnPoint.z) <= 48.0) {
        return Kind::plaza;
    }
    if (bank <= riversideLawnWidth) {
        return Kind::grass;
    }
    return Kind::block;
}

// The ground is classified on a square lattice of cells; equal neighbours merge into tiles.
struct Lattice {
    double cell;
    int columns; // along x
    int rows;    // along z
    std::vector<Kind> kinds;

    Kind at(int i, int j) const { return kinds[static_cast<std::size_t>(j) * columns + i]; }
    double x(int i) const { return westEdge + cell * i; }
    double z(int j) const { return southEdge + cell * j; }
    bool river(int i, int j) const {
        return i >= 0 && j >= 0 && i < columns && j < rows && at(i, j) == Kind::river;
    }
};

Lattice classifyGround(const District& district, double cell) {
    Lattice lattice{cell,
                    static_cast<int>(std::lround((eastEdge - westEdge) / cell)),
                    static_cast<int>(std::lround((northEdge - southEdge) / cell)),
                    {}};
    lattice.kinds.resize(static_cast<std::size_t>(lattice.columns) * lattice.rows);
    for (int j = 0; j < lattice.rows; ++j) {
        for (int i = 0; i < lattice.columns; ++i) {
            const Point centre{lattice.x(i) + cell / 2.0, lattice.z(j) + cell / 2.0};
            lattice.kinds[static_cast<std::size_t>(j) * lattice.columns + i] = classify(district, centre);
        }
    }
    return lattice;
}

// Greedy tiling: from each free cell (rows south to north, cells west to east) a run east of equal
// cells, then as many rows north as match the whole run, each at most `span` cells.
void addTiles(District& district, const Lattice& lattice, int span) {
    std::vector<std::uint8_t> used(lattice.kinds.size(), 0);
    auto index = [&](int i, int j) { return static_cast<std::size_t>(j) * lattice.columns + i; };
    for (int j = 0; j < lattice.rows; ++j) {
        for (int i = 0; i < lattice.columns; ++i) {
            if (used[index(i, j)]) {
                continue;
            }
            const Kind kind = lattice.at(i, j);
            int w = 1;
            while (w < span && i + w < lattice.columns && !used[index(i + w, j)] &&
                   lattice.at(i + w, j) == kind) {
                ++w;
            }
            int h = 1;
            for (; h < span && j + h < lattice.rows; ++h) {
                bool match = true;
                for (int k = 0; k < w && match; ++k) {
                    match = !used[index(i + k, j + h)] && lattice.at(i + k, j + h) == kind;
                }
                if (!match) {
                    break;
                }
            }
            for (int dj = 0; dj < h; ++dj) {
                for (int di = 0; di < w; ++di) {
                    used[index(i + di, j + dj)] = 1;
                }
            }
            district.box(tag::ground, {lattice.x(i), groundLevel, lattice.z(j)},
                         {lattice.x(i + w), 0.0, lattice.z(j + h)}, groundColor(kind), false, true);
        }
    }
}

constexpr double wallThickness = 0.6;
constexpr double wallHeight = 1.2;
const V3 wallColor{0.52, 0.51, 0.47};

// A low wall along the river on the land side of every edge between land and river cells. Runs
// of walls along x are merged; walls along z stop short of a wall along x in the same cell.
void addRiverWalls(District& district, const Lattice& lattice, int span) {
    const double t = wallThickness;
    auto land = [&](int i, int j) { return !lattice.river(i, j); };
    // Along x: the north and south edges.
    for (const int side : {1, -1}) {
        for (int j = 0; j < lattice.rows; ++j) {
            int i = 0;
            while (i < lattice.columns) {
                auto edge = [&](int k) { return land(k, j) && lattice.river(k, j + side); };
                if (!edge(i)) {
                    ++i;
                    continue;
                }
                int run = 1;
                while (run < span && i + run < lattice.columns && edge(i + run)) {
                    ++run;
                }
                const double zEdge = side > 0 ? lattice.z(j + 1) : lattice.z(j);
                const double z0 = side > 0 ? zEdge - t : zEdge;
                district.box(tag::riverWall, {lattice.x(i), 0.0, z0},
                             {lattice.x(i + run), wallHeight, z0 + t}, wallColor);
                i += run;
            }
        }
    }
    // Along z: the east and west edges, one cell each.
    for (const int side : {1, -1}) {
        for (int i = 0; i < lattice.columns; ++i) {
            for (int j = 0; j < lattice.rows; ++j) {
                if (!land(i, j) || !lattice.river(i + side, j)) {
                    continue;
                }
                const double xEdge = side > 0 ? lattice.x(i + 1) : lattice.x(i);
                const double x0 = side > 0 ? xEdge - t : xEdge;
                double z0 = lattice.z(j);
                double z1 = lattice.z(j + 1);
                if (lattice.river(i, j - 1)) {
                    z0 += t;
                }
                if (lattice.river(i, j + 1)) {
                    z1 -= t;
                }
                district.box(tag::riverWall, {x0, 0.0, z0}, {x0 + t, wallHeight, z1}, wallColor);
            }
        }
    }
}

class Furniture {
  public:
    Furniture(District& district, const Lattice& lattice) : district_(district), lattice_(lattice) {}

    // A place is free when it is on open land inside the rectangle, away from buildings, from the
    // spawn point and from what already stands.
    bool free(const Point& p, double clearance) const {
        if (p.x < westEdge + 8.0 || p.x > eastEdge - 8.0 || p.z < southEdge + 8.0 || p.z > northEdge - 8.0) {
            return false;
        }
        const int i = static_cast<int>(std::floor((p.x - westEdge) / lattice_.cell));
        const int j = static_cast<int>(std::floor((p.z - southEdge) / lattice_.cell));
        const Kind kind = lattice_.at(i, j);
        if (kind == Kind::river || kind == Kind::lake || kind == Kind::road || onRoad(p, 3.0)) {
            return false;
        }
        if (distanceToBank(p) < 4.0 || nearBuilding(district_, p, 5.0) ||
            std::hypot(p.x - spawnPoint.x, p.z - spawnPoint.z) < 30.0 ||
            std::hypot(p.x - lakeCenter.x, p.z - lakeCenter.z) < lakeRadius + 5.0) {
            return false;
        }
        for (const Point& q : placed_) {
            if (std::hypot(p.x - q.x, p.z - q.z) < clearance) {
                return false;
            }
        }
        return true;
    }

    void tree(const Point& p) {
        placed_.push_back(p);
        const double u = unitHash(static_cast<std::uint32_t>(placed_.size()) * 7919u);
        district_.box(tag::tree, {p.x - 0.4, 0.0, p.z - 0.4}, {p.x + 0.4, 4.0, p.z + 0.4},
                      {0.34, 0.27, 0.19});
        district_.box(tag::tree, {p.x - 2.2, 4.0, p.z - 2.2}, {p.x + 2.2, 6.2, p.z + 2.2},
                      {0.24 + 0.06 * u, 0.35 + 0.04 * u, 0.22 + 0.05 * u});
    }

    // A lamp whose head reaches 0.7 m out towards the street along `toward` (a unit axis).
    void lamp(const Point& p, const Point& toward) {
        placed_.push_back(p);
        district_.box(tag::lamp, {p.x - 0.175, 0.0, p.z - 0.175}, {p.x + 0.175, 7.0, p.z + 0.175},
                      {0.25, 0.27, 0.26});
        const double hx = toward.x != 0.0 ? 0.9 : 0.3;
        const double hz = toward.x != 0.0 ? 0.3 : 0.9;
        const Point head{p.x + 0.7 * toward.x, p.z + 0.7 * toward.z};
        district_.box(tag::lamp, {head.x - hx, 7.0, head.z - hz}, {head.x + hx, 7.24, head.z + hz},
                      {0.7, 0.67, 0.45});
    }

  private:
    District& district_;
    const Lattice& lattice_;
    std::vector<Point> placed_;
};

// The lattice cell of the district and the largest tile, in cells.
double cellSize(const Options& options) {
    return options.large ? 8.0 : 16.0;
}

} // namespace

void addGround(District& district, const Options& options) {
    const Lattice lattice = classifyGround(district, cellSize(options));
    addTiles(district, lattice, 4);
    addRiverWalls(district, lattice, 4);
}

void addStreetFurniture(District& district, const Options& options) {
    const Lattice lattice = classifyGround(district, cellSize(options));
    Furniture furniture(district, lattice);
    const double step = options.large ? 12.0 : 30.0;

    // Along every street, trees on one side and lamps between trees on the other.
    for (const Road& road : roads) {
        const double dx = road.b.x - road.a.x;
        const double dz = road.b.z - road.a.z;
        const double length = std::hypot(dx, dz);
        const Point along{dx / length, dz / length};
        const Point normal{-along.z, along.x};
        const double offset = road.width / 2.0 + 6.0;
        int k = 0;
        for (double s = step / 2.0; s < length; s += step, ++k) {
            for (const int side : {1, -1}) {
                const Point p{road.a.x + along.x * s + normal.x * offset * side,
                              road.a.z + along.z * s + normal.z * offset * side};
                const bool lampHere = side < 0 && k % 2 == 0;
                if (!furniture.free(p, 8.0)) {
                    continue;
                }
                if (lampHere) {
                    // The head points back across the kerb, along the nearer axis.
                    const double nx = -normal.x * side;
                    const double nz = -normal.z * side;
                    const Point toward = std::abs(nx) >= std::abs(nz) ? Point{nx > 0 ? 1.0 : -1.0, 0.0}
                                                                      : Point{0.0, nz > 0 ? 1.0 : -1.0};
                    furniture.lamp(p, toward);
                } else {
                    furniture.tree(p);
                }
            }
        }
    }

    // The central green: a loose grove on a hashed grid.
    const double grove = options.large ? 12.0 : 22.0;
    std::uint32_t n = 0;
    for (double x = greenCenter.x - greenRadius; x <= greenCenter.x + greenRadius; x += grove) {
        for (double z = greenCenter.z - greenRadius; z <= greenCenter.z + greenRadius; z += grove, ++n) {
            const Point p{x + (unitHash(n * 2u + 1u) - 0.5) * grove * 0.5,
                          z + (unitHash(n * 2u + 2u) - 0.5) * grove * 0.5};
            if (std::hypot(p.x - greenCenter.x, p.z - greenCenter.z) < greenRadius - 6.0 &&
                furniture.free(p, 9.0)) {
                furniture.tree(p);
            }
        }
    }

    // The riverside lawns: a row of trees behind the promenade.
    for (std::size_t i = 0; i + 1 < riverBank.size(); ++i) {
        const Point& a = riverBank[i];
        const Point& b = riverBank[i + 1];
        const double length = std::hypot(b.x - a.x, b.z - a.z);
        const Point along{(b.x - a.x) / length, (b.z - a.z) / length};
        const Point inland{along.z, -along.x}; // the river lies to the left of the walk
        for (double s = step / 2.0; s < length; s += step) {
            const Point p{a.x + along.x * s + inland.x * 36.0, a.z + along.z * s + inland.z * 36.0};
            if (furniture.free(p, 9.0)) {
                furniture.tree(p);
            }
        }
    }
}

} // namespace zarn::mapgen
