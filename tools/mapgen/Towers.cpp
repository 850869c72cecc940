#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Mapgen.hpp"

namespace zarn::mapgen {

namespace {

// How the matter of a building carries itself. Every storey is a ring of façade pieces (corner
// columns, panels and the mullion columns between them) around one floor slab. Each ring piece
// stands on the ring of the storey below, so the weight of a tower runs straight down its walls
// to the ground; a slab only hangs its own weight on the ring around it. That keeps the bending
// at every bond small: what bends a bond is a heavy load carried far from it, and here the heavy
// loads never leave the walls. A ring may step inwards from one storey to the next only by part
// of its thickness, so that each piece still stands on the one below.
struct Kit {
    double wall = 1.0;     // thickness of the ring, m
    double panel = 24.0;   // longest façade panel between two columns
    double slab = 0.4;     // floor slab, lit as indoor
    double storey = 8.0;   // storey height aimed at
    double slabTile = 0.0; // when above 0, floors are laid as tiles of at most this size
    V3 glass;
    V3 frame;
    V3 floor{0.50, 0.50, 0.48};
};

// A cut through two opposite faces of a ring: the faces at x0 and x1 (cut along z) or the faces at
// z0 and z1 (cut along x), between world coordinates `from` and `to`.
struct Cut {
    enum class Faces { none, xFaces, zFaces };
    Faces faces = Faces::none;
    double from = 0.0;
    double to = 0.0;
};

struct Storey {
    Rect outline;
    double y0 = 0.0;
    double y1 = 0.0;
    bool slab = true;
    bool doors = false;
    bool band = false; // a plant floor: panels in the frame colour
    Cut cut;
    bool soffit = false; // closes the underside of a bridge over the cut below it
    Cut soffitCut;
};

V3 mix(const V3& a, const V3& b, double t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

class Builder {
  public:
    Builder(District& district, std::int32_t building, const Kit& kit)
        : district_(district), building_(building), kit_(kit) {}

    void box(const V3& lo, const V3& hi, const V3& color, bool indoor = false) {
        district_.box(building_, lo, hi, color, indoor);
    }

    void storey(const Storey& s) {
        const Rect& r = s.outline;
        const double w = kit_.wall;
        const V3 glass = s.band ? kit_.frame : kit_.glass;
        for (const double x : {r.x0, r.x1 - w}) {
            for (const double z : {r.z0, r.z1 - w}) {
                box({x, s.y0, z}, {x + w, s.y1, z + w}, kit_.frame);
            }
        }
        const bool cutZ = s.cut.faces == Cut::Faces::zFaces;
        const bool cutX = s.cut.faces == Cut::Faces::xFaces;
        for (const double z : {r.z0, r.z1 - w}) {
            face(true, z, z + w, r.x0 + w, r.x1 - w, s, glass, cutZ);
        }
        for (const double x : {r.x0, r.x1 - w}) {
            face(false, x, x + w, r.z0 + w, r.z1 - w, s, glass, cutX);
        }
        // Inner walls line the cut, so that it is a tunnel through the building.
        if (cutZ) {
            for (const double x : {s.cut.from - w, s.cut.to}) {
                run(false, x, x + w, r.z0 + w, r.z1 - w, false, false, s.y0, s.y1, false, glass);
            }
        }
        if (cutX) {
            for (const double z : {s.cut.from - w, s.cut.to}) {
                run(true, z, z + w, r.x0 + w, r.x1 - w, false, false, s.y0, s.y1, false, glass);
            }
        }
        if (s.slab) {
            const double y0 = s.y1 - kit_.slab;
            const Rect inner{r.x0 + w, r.z0 + w, r.x1 - w, r.z1 - w};
            if (cutZ) {
                floor({inner.x0, inner.z0, s.cut.from - w, inner.z1}, y0, s.y1);
                floor({s.cut.to + w, inner.z0, inner.x1, inner.z1}, y0, s.y1);
            } else if (cutX) {
                floor({inner.x0, inner.z0, inner.x1, s.cut.from - w}, y0, s.y1);
                floor({inner.x0, s.cut.to + w, inner.x1, inner.z1}, y0, s.y1);
            } else {
                floor(inner, y0, s.y1);
            }
        }
        if (s.soffit) {
            const Rect inner{r.x0 + w, r.z0 + w, r.x1 - w, r.z1 - w};
            const double y1 = s.y0 + kit_.slab;
            if (s.soffitCut.faces == Cut::Faces::zFaces) {
                floor({s.soffitCut.from - w, inner.z0, s.soffitCut.to + w, inner.z1}, s.y0, y1);
            } else {
                floor({inner.x0, s.soffitCut.from - w, inner.x1, s.soffitCut.to + w}, s.y0, y1);
            }
        }
    }

    // A floor, in one piece or in tiles.
    void floor(const Rect& r, double y0, double y1) {
        if (r.x1 - r.x0 < 0.5 || r.z1 - r.z0 < 0.5) {
            return;
        }
        const int nx =
            kit_.slabTile > 0.0 ? std::max(1, static_cast<int>(std::ceil((r.x1 - r.x0) / kit_.slabTile))) : 1;
        const int nz =
            kit_.slabTile > 0.0 ? std::max(1, static_cast<int>(std::ceil((r.z1 - r.z0) / kit_.slabTile))) : 1;
        for (int i = 0; i < nx; ++i) {
            for (int j = 0; j < nz; ++j) {
                const double x0 = r.x0 + (r.x1 - r.x0) * i / nx;
                const double x1 = r.x0 + (r.x1 - r.x0) * (i + 1) / nx;
                const double z0 = r.z0 + (r.z1 - r.z0) * j / nz;
                const double z1 = r.z0 + (r.z1 - r.z0) * (j + 1) / nz;
                box({x0, y0, z0}, {x1, y1, z1}, kit_.floor, true);
            }
        }
    }

  private:
    // One face between the corner columns: along x (a0..a1 in x, f0..f1 in z) or along z.
    void face(bool alongX, double f0, double f1, double a0, double a1, const Storey& s, const V3& glass,
              bool cut) {
        if (cut && s.cut.from > a0 && s.cut.to < a1) {
            run(alongX, f0, f1, a0, s.cut.from, false, true, s.y0, s.y1, false, glass);
            run(alongX, f0, f1, s.cut.to, a1, true, false, s.y0, s.y1, false, glass);
            return;
        }
        run(alongX, f0, f1, a0, a1, false, false, s.y0, s.y1, s.doors, glass);
    }

    void piece(bool alongX, double f0, double f1, double a0, double a1, double y0, double y1,
               const V3& color) {
        if (alongX) {
            box({a0, y0, f0}, {a1, y1, f1}, color);
        } else {
            box({f0, y0, a0}, {f1, y1, a1}, color);
        }
    }

    // Panels with mullion columns between them over a0..a1, with a column at either end if asked.
    void run(bool alongX, double f0, double f1, double a0, double a1, bool columnAtStart, bool columnAtEnd,
             double y0, double y1, bool door, const V3& glass) {
        const double w = kit_.wall;
        if (columnAtStart) {
            piece(alongX, f0, f1, a0, a0 + w, y0, y1, kit_.frame);
            a0 += w;
        }
        if (columnAtEnd) {
            piece(alongX, f0, f1, a1 - w, a1, y0, y1, kit_.frame);
            a1 -= w;
        }
        const double length = a1 - a0;
        if (length < 0.05) {
            return;
        }
        int n = std::max(1, static_cast<int>(std::ceil(length / kit_.panel)));
        double p = (length - (n - 1) * w) / n;
        if (p < 2.0) {
            n = 1;
            p = length;
        }
        const double middle = (a0 + a1) / 2.0;
        for (int i = 0; i < n; ++i) {
            const double b0 = a0 + i * (p + w);
            const double b1 = i + 1 == n ? a1 : b0 + p;
            const double doorWidth = 4.0;
            const double doorHeight = std::min(4.0, 0.6 * (y1 - y0));
            if (door && b0 <= middle && middle <= b1 && b1 - b0 >= doorWidth + 4.0) {
                const double d0 = middle - doorWidth / 2.0;
                const double d1 = middle + doorWidth / 2.0;
                piece(alongX, f0, f1, b0, d0, y0, y1, glass);
                piece(alongX, f0, f1, d1, b1, y0, y1, glass);
                piece(alongX, f0, f1, d0, d1, y0 + doorHeight, y1, kit_.frame);
                door = false;
            } else {
                piece(alongX, f0, f1, b0, b1, y0, y1, glass);
            }
            if (i + 1 < n) {
                piece(alongX, f0, f1, b1, b1 + w, y0, y1, kit_.frame);
            }
        }
    }

    District& district_;
    std::int32_t building_;
    Kit kit_;
};

Kit kitFor(const BuildingRow& row, const Options& options, double wall) {
    Kit kit;
    kit.wall = wall;
    kit.glass = row.color;
    kit.frame = mix(row.color, {0.66, 0.66, 0.63}, 0.6);
    if (options.large) {
        kit.panel = 8.0;
        kit.storey /= 2.0;
        kit.slabTile = 12.0;
    }
    return kit;
}

int storeyCount(double height, double storey) {
    return std::max(1, static_cast<int>(std::lround(height / storey)));
}

// Rings must stand on the ring below: no side may move in or out by more than part of the wall.
void checkStepping(const BuildingRow& row, const std::vector<Storey>& storeys, double wall) {
    for (std::size_t k = 1; k < storeys.size(); ++k) {
        const Rect& a = storeys[k - 1].outline;
        const Rect& b = storeys[k].outline;
        const double step = std::max(
            {std::abs(a.x0 - b.x0), std::abs(a.x1 - b.x1), std::abs(a.z0 - b.z0), std::abs(a.z1 - b.z1)});
        if (step > 0.6 * wall + 1e-9) {
            throw std::runtime_error(row.name + ": storey " + std::to_string(k) + " steps in by " +
                                     std::to_string(step) + " m, more than its walls can carry");
        }
    }
}

Rect centred(double x, double z, double halfX, double halfZ) {
    return {x - halfX, z - halfZ, x + halfX, z + halfZ};
}

// A storeyed tower whose outline per storey comes from `outline`.
std::vector<Storey> plan(int count, double height, const std::function<Rect(int)>& outline) {
    std::vector<Storey> storeys;
    const double h = height / count;
    for (int k = 0; k < count; ++k) {
        Storey s;
        s.outline = outline(k);
        s.y0 = k * h;
        s.y1 = k + 1 == count ? height : (k + 1) * h;
        s.doors = k == 0;
        s.band = k > 0 && k % 12 == 0 && k + 1 < count;
        storeys.push_back(s);
    }
    return storeys;
}

void build(District& district, std::int32_t index, const BuildingRow& row, const Kit& kit,
           const std::vector<Storey>& storeys) {
    checkStepping(row, storeys, kit.wall);
    Builder builder(district, index, kit);
    for (const Storey& s : storeys) {
        builder.storey(s);
    }
}

// A column of boxes centred on (x, z) from y0 up, one box per entry of `widths`, each `step` tall.
void spire(District& district, std::int32_t index, double x, double z, double y0, double step,
           const std::vector<double>& widths, const V3& color) {
    double y = y0;
    for (const double w : widths) {
        district.box(index, {x - w / 2.0, y, z - w / 2.0}, {x + w / 2.0, y + step, z + w / 2.0}, color);
        y += step;
    }
}

// A stepped ball around a solid core rectangle: per slice four boxes in a pinwheel round the core,
// square, as wide as the ball's section there. The caller fills the core for the ball's height.
void ball(District& district, std::int32_t index, double cx, double cz, double yCentre, double radius,
          const Rect& core, double slice, const V3& color) {
    const int slices = std::max(1, static_cast<int>(std::lround(2.0 * radius / slice)));
    const double h = 2.0 * radius / slices;
    for (int i = 0; i < slices; ++i) {
        const double y0 = yCentre - radius + i * h;
        const double y = y0 + h / 2.0 - yCentre;
        // The square of equal area to the circle of the section.
        const double q = 0.886 * std::sqrt(std::max(0.0, radius * radius - y * y));
        if (q < std::max({-core.x0, core.x1, -core.z0, core.z1}) + 0.5) {
            continue;
        }
        const double y1 = y0 + h;
        auto add = [&](double x0, double z0, double x1, double z1) {
            district.box(index, {cx + x0, y0, cz + z0}, {cx + x1, y1, cz + z1}, color);
        };
        add(-q, core.z1, core.x1, q);  // north
        add(core.x1, core.z0, q, q);   // east
        add(core.x0, -q, q, core.z0);  // south
        add(-q, -q, core.x0, core.z1); // west
    }
}

// Oriental Pearl Radio & TV Tower: three columns from the ground through the lower ball (50 m) to
// the upper ball (45 m), three raking legs, the space module (18 m) on one shaft and the mast.
void pearl(District& district, std::int32_t index, const BuildingRow& row, const Options& options) {
    const double cx = row.x;
    const double cz = row.z;
    const V3 shaft{0.78, 0.76, 0.72};
    const V3 pink = row.color;
    const double fine = options.large ? 0.5 : 1.0;
    // Three 8 m columns and the three pieces that fill the core between them inside the balls.
    const std::array<Rect, 3> columns{
        {{-12.0, -10.0, -4.0, -2.0}, {4.0, -10.0, 12.0, -2.0}, {-4.0, 4.0, 4.0, 12.0}}};
    const std::array<Rect, 3> fill{
        {{-4.0, -10.0, 4.0, 4.0}, {-12.0, -2.0, -4.0, 12.0}, {4.0, -2.0, 12.0, 12.0}}};
    const Rect core{-12.0, -10.0, 12.0, 12.0};
    struct Section {
        double y0, y1;
        int pieces;
        bool filled;
    };
    const double lowerCentre = 93.0;
    const double lowerRadius = 25.0;
    const double upperCentre = 272.5;
    const double upperRadius = 22.5;
    const std::array<Section, 4> sections{
        {{0.0, 68.0, 8, false}, {68.0, 118.0, 10, true}, {118.0, 250.0, 16, false}, {250.0, 295.0, 9, true}}};
    for (const Section& section : sections) {
        const int n = static_cast<int>(section.pieces / fine);
        for (int k = 0; k < n; ++k) {
            const double y0 = section.y0 + (section.y1 - section.y0) * k / n;
            const double y1 = section.y0 + (section.y1 - section.y0) * (k + 1) / n;
            for (const Rect& c : columns) {
                district.box(index, {cx + c.x0, y0, cz + c.z0}, {cx + c.x1, y1, cz + c.z1}, shaft);
            }
            if (section.filled) {
                for (const Rect& c : fill) {
                    district.box(index, {cx + c.x0, y0, cz + c.z0}, {cx + c.x1, y1, cz + c.z1}, shaft);
                }
            }
        }
    }
    ball(district, index, cx, cz, lowerCentre, lowerRadius, core, 5.0 * fine, pink);
    ball(district, index, cx, cz, upperCentre, upperRadius, core, 5.0 * fine, pink);

    // The raking legs, from 40 m out at the ground to 24 m out below the lower ball, each a stack
    // of 7 m blocks that steps inwards by less than its width.
    const std::array<V3, 3> outward{{{-0.8, 0.0, -0.6}, {0.8, 0.0, -0.6}, {0.0, 0.0, 1.0}}};
    const int legSteps = static_cast<int>(8 / fine);
    for (const V3& d : outward) {
        for (int k = 0; k < legSteps; ++k) {
            const double r = 40.0 - 16.0 * k / (legSteps - 1);
            const double x = cx + d.x * r;
            const double z = cz + d.z * r;
            const double y0 = 64.0 * k / legSteps;
            const double y1 = 64.0 * (k + 1) / legSteps;
            district.box(index, {x - 3.5, y0, z - 3.5}, {x + 3.5, y1, z + 3.5}, shaft);
        }
    }

    // One shaft from the upper ball to the space module and through it.
    const Rect upper{-4.0, -4.0, 4.0, 4.0};
    const double moduleCentre = 344.0;
    const double moduleRadius = 9.0;
    spire(district, index, cx, cz, 295.0, 8.0, {8.0, 8.0, 8.0, 8.0, 8.0}, shaft);
    const int moduleSlices = static_cast<int>(6 / fine);
    for (int k = 0; k < moduleSlices; ++k) {
        const double y0 = 335.0 + 18.0 * k / moduleSlices;
        const double y1 = 335.0 + 18.0 * (k + 1) / moduleSlices;
        district.box(index, {cx + upper.x0, y0, cz + upper.z0}, {cx + upper.x1, y1, cz + upper.z1}, shaft);
    }
    ball(district, index, cx, cz, moduleCentre, moduleRadius, upper, 3.0 * fine, pink);

    // The mast, narrowing to the top at 468 m.
    const std::vector<double> mast{5.0, 4.2, 3.4, 2.8, 2.2, 1.6, 1.2};
    spire(district, index, cx, cz, 353.0, (row.height - 353.0) / static_cast<double>(mast.size()), mast,
          shaft);
}

// Shanghai International Convention Center: a low hall between its two glass globes.
void convention(District& district, std::int32_t index, const BuildingRow& row, const Options& options) {
    Kit kit = kitFor(row, options, 1.0);
    kit.glass = {0.62, 0.58, 0.50};
    kit.frame = {0.70, 0.67, 0.60};
    const double cx = row.x;
    const double cz = row.z;
    build(district, index, row, kit,
          plan(storeyCount(40.0, kit.storey), 40.0, [&](int) { return centred(cx, cz, 25.0, 30.0); }));
    const V3 globe = row.color;
    const V3 core{0.60, 0.60, 0.58};
    struct Globe {
        double x, yCentre, radius;
    };
    for (const Globe& g : {Globe{cx - 50.0, 30.0, 25.0}, Globe{cx + 50.0, 32.0, 19.0}}) {
        const double top = g.yCentre + g.radius;
        const int n = storeyCount(top, options.large ? 2.5 : 5.0);
        for (int k = 0; k < n; ++k) {
            district.box(index, {g.x - 5.0, top * k / n, cz - 5.0}, {g.x + 5.0, top * (k + 1) / n, cz + 5.0},
                         core);
        }
        ball(district, index, g.x, cz, g.yCentre, g.radius, {-5.0, -5.0, 5.0, 5.0}, options.large ? 2.5 : 5.0,
             globe);
    }
}

void addTower(District& district, std::int32_t index, const BuildingRow& row, const Options& options) {
    const Rect foot = row.footprint();
    const double cx = row.x;
    const double cz = row.z;
    const double hx = row.sizeX / 2.0;
    const double hz = row.sizeZ / 2.0;
    const std::string& style = row.style;

    if (style == "pearl") {
        pearl(district, index, row, options);
    } else if (style == "convention") {
        convention(district, index, row, options);
    } else if (style == "shanghai") {
        // Shanghai Tower: a tapering shaft to 576 m and an open crown above it.
        const Kit kit = kitFor(row, options, 1.5);
        const int n = storeyCount(row.height, kit.storey);
        const double h = row.height / n;
        const int body = static_cast<int>(std::floor(576.0 / h));
        std::vector<Storey> storeys = plan(n, row.height, [&](int k) {
            const double half =
                k <= body ? 33.0 - 11.5 * k / body : 21.5 - 0.5 * (k - body) * kit.storey / 8.0;
            return centred(cx, cz, std::min(half, hx), std::min(half, hz));
        });
        for (int k = body + 1; k < n; ++k) {
            storeys[static_cast<std::size_t>(k)].slab = false;
            storeys[static_cast<std::size_t>(k)].band = false;
        }
        build(district, index, row, kit, storeys);
    } else if (style == "swfc") {
        // Shanghai World Financial Center: two faces slope in to a blade at the top, and the
        // aperture near the top runs through the blade.
        const Kit kit = kitFor(row, options, 1.5);
        const int n = storeyCount(row.height, kit.storey);
        const double h = row.height / n;
        std::vector<Storey> storeys =
            plan(n, row.height, [&](int k) { return centred(cx, cz, hx - (hx - 8.0) * k / (n - 1), hz); });
        const Cut cut{Cut::Faces::xFaces, cz - 20.0, cz + 20.0};
        bool inCut = false;
        for (int k = 0; k < n; ++k) {
            Storey& s = storeys[static_cast<std::size_t>(k)];
            const double y = (k + 0.5) * h;
            if (y > 432.0 && y < 476.0) {
                s.cut = cut;
                s.band = false;
                inCut = true;
            } else if (inCut) {
                s.soffit = true;
                s.soffitCut = cut;
                inCut = false;
            }
        }
        build(district, index, row, kit, storeys);
    } else if (style == "jinmao") {
        // Jin Mao Tower: a pagoda of setbacks, a crown and the spire to 420.5 m.
        const Kit kit = kitFor(row, options, 1.5);
        const double spireHeight = 32.5;
        const double bodyHeight = row.height - spireHeight;
        const int n = storeyCount(bodyHeight, kit.storey);
        const int crown = 2 * (options.large ? 2 : 1);
        const int setbackEvery = options.large ? 6 : 3;
        std::vector<Storey> storeys = plan(n, bodyHeight, [&](int k) {
            const int body = n - crown;
            double half = hx - 0.75 * (std::min(k, body - 1) / setbackEvery);
            if (k >= body) {
                half -= 0.8 * (k - body + 1) / (options.large ? 2.0 : 1.0);
            }
            return centred(cx, cz, half, half);
        });
        build(district, index, row, kit, storeys);
        spire(district, index, cx, cz, bodyHeight, spireHeight / 4.0, {6.0, 4.0, 2.5, 1.2}, kit.frame);
    } else if (style == "tapered") {
        // A tower whose top fifth narrows to a crown.
        const Kit kit = kitFor(row, options, 1.0);
        const int n = storeyCount(row.height, kit.storey);
        const int from = static_cast<int>(0.8 * n);
        build(district, index, row, kit, plan(n, row.height, [&](int k) {
                  const double in = k > from ? 0.5 * (k - from) * kit.storey / 8.0 : 0.0;
                  return centred(cx, cz, hx - in, hz - in);
              }));
    } else if (style == "twin") {
        // Two slender towers on one plot, six metres apart.
        const Kit kit = kitFor(row, options, 1.0);
        const int n = storeyCount(row.height, kit.storey);
        const double wing = (row.sizeX - 6.0) / 2.0;
        build(district, index, row, kit, plan(n, row.height, [&](int) {
                  return Rect{foot.x0, foot.z0, foot.x0 + wing, foot.z1};
              }));
        build(district, index, row, kit, plan(n, row.height, [&](int) {
                  return Rect{foot.x1 - wing, foot.z0, foot.x1, foot.z1};
              }));
    } else if (style == "gate") {
        // A square arch: two wings joined by the storeys above the opening.
        const Kit kit = kitFor(row, options, 1.0);
        const int n = storeyCount(row.height, kit.storey);
        const double h = row.height / n;
        std::vector<Storey> storeys = plan(n, row.height, [&](int) { return foot; });
        const Cut cut{Cut::Faces::zFaces, cx - 13.0, cx + 13.0};
        bool inCut = false;
        for (int k = 0; k < n; ++k) {
            Storey& s = storeys[static_cast<std::size_t>(k)];
            if ((k + 0.5) * h < 0.72 * row.height) {
                s.cut = cut;
                inCut = true;
            } else if (inCut) {
                s.soffit = true;
                s.soffitCut = cut;
                inCut = false;
            }
        }
        build(district, index, row, kit, storeys);
    } else if (style == "podium") {
        Kit kit = kitFor(row, options, 1.0);
        kit.storey = options.large ? 3.0 : 6.0;
        build(district, index, row, kit,
              plan(storeyCount(row.height, kit.storey), row.height, [&](int) { return foot; }));
    } else if (style == "house") {
        Kit kit = kitFor(row, options, 0.5);
        kit.storey = 4.5;
        kit.panel = 8.0;
        kit.frame = {0.45, 0.40, 0.36};
        build(district, index, row, kit,
              plan(storeyCount(row.height, kit.storey), row.height, [&](int) { return foot; }));
    } else if (style == "tower") {
        const Kit kit = kitFor(row, options, 1.0);
        build(district, index, row, kit,
              plan(storeyCount(row.height, kit.storey), row.height, [&](int) { return foot; }));
    } else {
        throw std::runtime_error(row.name + ": unknown style " + style);
    }
}

} // namespace

void addBuilding(District& district, std::int32_t index, const Options& options) {
    const BuildingRow& row = district.buildings[static_cast<std::size_t>(index)];
    addTower(district, index, row, options);
}

} // namespace zarn::mapgen
