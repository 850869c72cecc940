#include <cmath>
#include <stdexcept>

#include "physics/Physics.hpp"
#include "render/Renderer.hpp"
#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr double tanHalfView = 0.7535540501027942;    // tan 37°, half the normal vertical field of view
constexpr double secantHalfView = 1.2521356581562257; // sqrt(1 + tan² 37°)

// Whether the drawn look of a static piece changed since the snapshot.
bool meshChanged(const MatterPiece& piece, const MatterPiece& before) {
    return piece.body.center != before.body.center || piece.body.halfExtents != before.body.halfExtents ||
           !(piece.body.orientation == before.body.orientation) || piece.color != before.color ||
           piece.indoor != before.indoor;
}

} // namespace

void Renderer::staticScene(const Game& game, const Vec3& eye, const Vec3& forward) {
    if (!backend) {
        return;
    }
    const Physics& physics = game.world.physics;
    const std::size_t dynamicBytes = vertices.size() * sizeof(Vertex);
    const std::size_t pieceCount = physics.pieces.size();
    const std::size_t chunkCount = (pieceCount + chunkPieces - 1) / chunkPieces;

    for (std::size_t c = chunkCount; c < chunks.size(); ++c) {
        if (chunks[c].buffer != nullptr) {
            backend->releaseBuffer(chunks[c].buffer);
            chunks[c].buffer = nullptr;
        }
    }
    chunks.resize(chunkCount);
    // When the piece list shrank, the last chunk still holds the meshes of pieces that are gone.
    const bool shrank = pieceCount < snapshot.size();
    snapshot.resize(pieceCount);
    staticFlags.resize(pieceCount, false);

    // Chunk vertices are relative to the origin of the frame that built them.
    const bool moved = length(origin - chunkOrigin) > 0.0;
    chunkOrigin = origin;
    staticUploads = 0;
    staticDraws = 0;

    // The view cone always has the normal field of view, also while zoomed.
    const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    const double a = aspect * tanHalfView;
    const double sideSlack = std::sqrt(a * a + 1.0);
    const Vec3 side = normalized(cross(game.world.gravityUp(), forward));
    const Vec3 vertical = cross(forward, side);

    for (std::size_t c = 0; c < chunkCount; ++c) {
        bool dirty = moved || (shrank && c + 1 == chunkCount);
        const std::size_t first = c * chunkPieces;
        const std::size_t end = std::min(first + chunkPieces, pieceCount);
        for (std::size_t i = first; i < end; ++i) {
            const MatterPiece& piece = physics.pieces[i];
            const bool isStaticNow = isStatic(piece, physics);
            const bool wasStatic = staticFlags[i];
            if (isStaticNow != wasStatic) {
                dirty = true;
            } else if (isStaticNow && meshChanged(piece, snapshot[i])) {
                dirty = true;
            } else {
                continue; // nothing the chunk shows differs: the snapshot stays as it is
            }
            snapshot[i] = piece;
            staticFlags[i] = isStaticNow;
        }
        if (dirty) {
            rebuildChunk(physics, c);
        }

        const StaticChunk& chunk = chunks[c];
        if (chunk.count == 0) {
            continue;
        }
        const Vec3 rel = chunk.center - eye;
        if (length(rel) - chunk.radius > sceneRange) {
            continue;
        }
        const double depth = dot(forward, rel);
        if (depth + chunk.radius < 0.0) {
            continue;
        }
        if (std::abs(dot(rel, side)) > sideSlack * chunk.radius + a * depth) {
            continue;
        }
        if (std::abs(dot(rel, vertical)) > secantHalfView * chunk.radius + tanHalfView * depth) {
            continue;
        }
        backend->drawBuffer(chunk.buffer, chunk.count);
        ++staticDraws;
    }

    if (vertices.size() * sizeof(Vertex) != dynamicBytes) {
        throw std::runtime_error("Static rebuild modified dynamic geometry");
    }
}

void Renderer::rebuildChunk(const Physics& physics, std::size_t c) {
    StaticChunk& chunk = chunks[c];
    if (chunk.buffer != nullptr) {
        backend->releaseBuffer(chunk.buffer);
        chunk.buffer = nullptr;
    }
    chunk.count = 0;

    staticVertices.clear();
    capturing = true;
    Vec3 lo{1e30, 1e30, 1e30};
    Vec3 hi{-1e30, -1e30, -1e30};
    const std::size_t first = c * chunkPieces;
    const std::size_t end = std::min(first + chunkPieces, physics.pieces.size());
    for (std::size_t i = first; i < end; ++i) {
        if (!staticFlags[i]) {
            continue;
        }
        const MatterPiece& piece = physics.pieces[i];
        matterMesh(piece);
        const Box bounds = piece.body.bounds();
        lo = componentMin(lo, bounds.min);
        hi = componentMax(hi, bounds.max);
    }
    capturing = false;

    if (!staticVertices.empty()) {
        chunk.buffer = backend->createBuffer(staticVertices, "static geometry");
        chunk.count = static_cast<std::uint32_t>(staticVertices.size());
        chunk.center = (lo + hi) / 2.0;
        chunk.radius = length(hi - lo) / 2.0;
        ++staticUploads;
        staticVertices.clear();
    }
}

} // namespace zarn
