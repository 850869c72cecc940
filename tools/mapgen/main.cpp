// zarn_mapgen: writes the Lujiazui district map pack from its table of buildings.
//
//   zarn_mapgen [--large] [--version 1|2] TABLE OUTPUT
//
// TABLE is the tab-separated list of buildings (tools/mapgen/lujiazui.tsv); OUTPUT is the map pack
// to write (its folder is created). --large builds the same district from many more, smaller
// pieces, for benchmarks; --version 1 writes the older format without indoor flags.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "Mapgen.hpp"

namespace zarn::mapgen {

void District::box(std::int32_t building, const V3& lo, const V3& hi, const V3& color, bool indoor,
                   bool anchored) {
    if (!(hi.x > lo.x && hi.y > lo.y && hi.z > lo.z)) {
        throw std::runtime_error("empty box in building " + std::to_string(building));
    }
    Piece piece;
    piece.building = building;
    piece.anchored = anchored;
    piece.center = {(lo.x + hi.x) / 2.0, (lo.y + hi.y) / 2.0, (lo.z + hi.z) / 2.0};
    piece.half = {(hi.x - lo.x) / 2.0, (hi.y - lo.y) / 2.0, (hi.z - lo.z) / 2.0};
    piece.color = color;
    piece.indoor = indoor;
    pieces.push_back(piece);
}

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

double number(const std::string& text, const std::string& where) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        throw std::runtime_error(where + ": not a number: '" + text + "'");
    }
    return value;
}

// Columns: name, style, x, z, size x, size z, height, year, colour as r,g,b.
std::vector<BuildingRow> readTable(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    std::vector<BuildingRow> rows;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = path.filename().string() + ":" + std::to_string(lineNumber);
        const std::vector<std::string> f = splitTabs(line);
        if (f.size() != 9) {
            throw std::runtime_error(where + ": expected 9 tab-separated columns, found " +
                                     std::to_string(f.size()));
        }
        BuildingRow row;
        row.name = f[0];
        row.style = f[1];
        row.x = number(f[2], where);
        row.z = number(f[3], where);
        row.sizeX = number(f[4], where);
        row.sizeZ = number(f[5], where);
        row.height = number(f[6], where);
        row.extra = number(f[7], where);
        std::vector<std::string> rgb;
        std::stringstream colors(f[8]);
        for (std::string part; std::getline(colors, part, ',');) {
            rgb.push_back(part);
        }
        if (rgb.size() != 3) {
            throw std::runtime_error(where + ": colour must be r,g,b");
        }
        row.color = {number(rgb[0], where), number(rgb[1], where), number(rgb[2], where)};
        // The limits of the game's save file: centres within 3 km, sizes up to 2 km, 1 km high.
        if (std::hypot(row.x, row.z) > 3000.0 || row.sizeX < 0.01 || row.sizeX > 2000.0 || row.sizeZ < 0.01 ||
            row.sizeZ > 2000.0 || !(row.height > 0.0 && row.height <= 1000.0) || row.extra < 0.0) {
            throw std::runtime_error(where + ": building outside the map's limits");
        }
        rows.push_back(row);
    }
    if (rows.empty() || rows.size() > 1000) {
        throw std::runtime_error(path.string() + ": a district holds 1 to 1000 buildings");
    }
    return rows;
}

// Every piece of a building stays inside its footprint and below its height.
void checkBuildings(const District& district) {
    for (const Piece& p : district.pieces) {
        if (p.building < 0) {
            continue;
        }
        const BuildingRow& b = district.buildings[static_cast<std::size_t>(p.building)];
        const Rect f = b.footprint().grown(1e-6);
        if (!f.contains(p.center.x - p.half.x, p.center.z - p.half.z) ||
            !f.contains(p.center.x + p.half.x, p.center.z + p.half.z) || p.center.y - p.half.y < -1e-6 ||
            p.center.y + p.half.y > b.height + 1e-6) {
            throw std::runtime_error(b.name + ": a piece lies outside the footprint or above the height");
        }
    }
}

// Pieces may touch but never overlap: overlapping boxes would bond through the slow exact test and
// hold each other in odd ways.
void checkOverlaps(const District& district) {
    constexpr double cell = 32.0;
    constexpr double tolerance = 0.035;
    std::map<std::pair<long, long>, std::vector<std::size_t>> cells;
    for (std::size_t i = 0; i < district.pieces.size(); ++i) {
        const Piece& p = district.pieces[i];
        const long x0 = std::lround(std::floor((p.center.x - p.half.x) / cell));
        const long x1 = std::lround(std::floor((p.center.x + p.half.x) / cell));
        const long z0 = std::lround(std::floor((p.center.z - p.half.z) / cell));
        const long z1 = std::lround(std::floor((p.center.z + p.half.z) / cell));
        for (long x = x0; x <= x1; ++x) {
            for (long z = z0; z <= z1; ++z) {
                cells[{x, z}].push_back(i);
            }
        }
    }
    for (const auto& [key, list] : cells) {
        for (std::size_t m = 0; m < list.size(); ++m) {
            for (std::size_t n = m + 1; n < list.size(); ++n) {
                const Piece& a = district.pieces[list[m]];
                const Piece& b = district.pieces[list[n]];
                const bool overlap = std::abs(a.center.x - b.center.x) < a.half.x + b.half.x - tolerance &&
                                     std::abs(a.center.y - b.center.y) < a.half.y + b.half.y - tolerance &&
                                     std::abs(a.center.z - b.center.z) < a.half.z + b.half.z - tolerance;
                if (overlap) {
                    std::ostringstream what;
                    what << "pieces " << list[m] + 1 << " (building " << a.building << ") and " << list[n] + 1
                         << " (building " << b.building << ") overlap near (" << a.center.x << ", "
                         << a.center.y << ", " << a.center.z << ")";
                    throw std::runtime_error(what.str());
                }
            }
        }
    }
}

// Shortest text that reads back as the same double.
void put(std::string& out, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void put(std::string& out, const V3& v) {
    put(out, v.x);
    out += ' ';
    put(out, v.y);
    out += ' ';
    put(out, v.z);
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string mapText(const District& district, const Options& options) {
    std::string out = "ZARNMAP " + std::to_string(options.version) +
                      " Lujiazui district, written by zarn_mapgen from its building table\n";
    out += "陆家嘴\n";
    put(out, groundLevel);
    out += '\n';
    put(out, V3{0.45, 0.50, 0.53}); // the hazy sky over the river
    out += '\n';
    put(out, spawnPoint);
    out += '\n';
    out += std::to_string(district.buildings.size()) + '\n';
    for (const BuildingRow& b : district.buildings) {
        out += quoted(b.name);
        for (const double v : {b.x, b.z, b.sizeX, b.sizeZ, b.height, b.extra}) {
            out += ' ';
            put(out, v);
        }
        out += '\n';
    }
    out += std::to_string(district.pieces.size()) + '\n';
    for (const Piece& p : district.pieces) {
        out += std::to_string(p.building);
        out += p.anchored ? " 1 " : " 0 ";
        put(out, p.center);
        out += ' ';
        put(out, p.half);
        out += ' ';
        put(out, p.color);
        out += " 1 0 0 0";
        if (options.version >= 2) {
            out += p.indoor ? " 1" : " 0";
        }
        out += '\n';
    }
    return out;
}

int run(int argc, char** argv) {
    Options options;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--large") {
            options.large = true;
        } else if (arg == "--version" && i + 1 < argc) {
            options.version = std::stoi(argv[++i]);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2 || (options.version != 1 && options.version != 2)) {
        std::cerr << "usage: zarn_mapgen [--large] [--version 1|2] TABLE OUTPUT\n";
        return 2;
    }

    District district;
    district.buildings = readTable(paths[0]);
    addGround(district, options);
    const std::size_t groundPieces = district.pieces.size();
    for (std::size_t i = 0; i < district.buildings.size(); ++i) {
        addBuilding(district, static_cast<std::int32_t>(i), options);
    }
    const std::size_t buildingPieces = district.pieces.size() - groundPieces;
    addStreetFurniture(district, options);
    checkBuildings(district);
    checkOverlaps(district);

    const std::filesystem::path output(paths[1]);
    if (output.has_parent_path()) {
        std::filesystem::create_directories(output.parent_path());
    }
    const std::filesystem::path temporary = output.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        const std::string text = mapText(district, options);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + temporary.string());
        }
    }
    std::filesystem::rename(temporary, output);
    std::cout << output.string() << ": " << district.buildings.size() << " buildings, "
              << district.pieces.size() << " pieces (" << groundPieces << " ground and river walls, "
              << buildingPieces << " of buildings, " << district.pieces.size() - groundPieces - buildingPieces
              << " trees and lamps)\n";
    return 0;
}

} // namespace

} // namespace zarn::mapgen

int main(int argc, char** argv) {
    try {
        return zarn::mapgen::run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "zarn_mapgen: " << e.what() << '\n';
        return 1;
    }
}
