#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "physics/Math.hpp"
#include "physics/Records.hpp"
#include "render/HudCanvas.hpp"
#include "render/RenderBackend.hpp"
#include "render/Vertex.hpp"

struct HWND__; // the window handle type of Win32

namespace zarn {

class Game;
class Physics;
class World;
struct BioBox;
struct DayCycle;
struct Stars;
struct UiState;

// What the shell's state decides about one frame.
struct FrameOptions {
    bool menu = false;           // the main menu or the world selection is shown: fixed scenic camera
    bool physicsDebug = false;   // velocity markers on moving matter
    const UiState* ui = nullptr; // the page and settings the HUD shows; null leaves the HUD blank
};

// The kind of world, which decides the lighting, the depth mode and the passes of a frame.
enum class WorldKind { plain, earth, stars };

// The camera of one frame in world coordinates.
struct View {
    Vec3 eye;
    Vec3 right;
    Vec3 up;
    Vec3 forward;
    Vec3 worldUp; // the world's up direction, also on the menu pages
};

// Draws the game: the 3D view as flat-coloured triangles built on the processor, the static matter
// from cached chunks, then the HUD canvas. It decides what is drawn and how; its backend (Direct3D 11
// in the game) carries the frame out. It reads the game and never changes it.
class Renderer {
  public:
    // An immutable vertex buffer with the meshes of the static pieces among 128 consecutive physics
    // pieces, and the bounding sphere of those pieces.
    struct StaticChunk {
        GpuBuffer* buffer = nullptr; // null when the chunk has no static piece
        std::uint32_t count = 0;     // vertices in buffer; 0 draws nothing
        Vec3 center;                 // centre of the axis-aligned bounds (world coordinates)
        double radius = 0.0;         // half the diagonal of those bounds
    };

    static constexpr std::size_t vertexBufferBytes = 40'000'000; // one upload at most: 1,000,000 vertices
    static constexpr std::size_t maxVertices = vertexBufferBytes / sizeof(Vertex);
    static constexpr std::size_t flushBytes = 36'000'000; // the dynamic scene submits beyond this
    static constexpr std::size_t reservedVertices = 200'000;
    static constexpr std::size_t chunkPieces = 128;
    static constexpr double sceneRange = 2500.0; // m, matter and static chunks
    static constexpr double enemyRange = 800.0;  // m
    static constexpr std::int32_t canvasWidth = 1280;
    static constexpr std::int32_t canvasHeight = 720;

    std::unique_ptr<RenderBackend> backend; // null until initialize (or a test) sets one
    std::unique_ptr<HudCanvas> canvas;      // the HUD's; null until initialize (or a test) sets one
    std::int32_t width = 0;                 // client size in pixels
    std::int32_t height = 0;

    // The current-vertex state every primitive reads.
    Vec3 normal;            // written into every new vertex
    Vec3 origin;            // subtracted from every world position before narrowing to f32
    float indoor = 0.0f;    // lighting class of new vertices
    bool capturing = false; // new vertices go to staticVertices
    std::vector<Vertex> vertices;
    std::vector<Vertex> staticVertices;

    // Static chunks and what they were built from.
    std::vector<StaticChunk> chunks;
    std::vector<MatterPiece> snapshot; // every physics piece as of the last frame
    std::vector<bool> staticFlags;     // isStatic of every piece as of the last frame
    Vec3 chunkOrigin;                  // origin during the last frame
    std::uint64_t staticUploads = 0;   // chunks rebuilt in the current frame
    std::uint64_t staticDraws = 0;     // chunks drawn in the current frame

    // The sky background of the star world, kept on the device until the sky changes.
    GpuBuffer* starBuffer = nullptr; // null when there is no sky point to draw
    std::uint32_t starCount = 0;     // vertices in starBuffer
    std::uint64_t starRevision = 0;  // Stars::skyRevision the buffer was built for
    std::uint64_t starSerial = 0;    // Stars::serial of the system it was built for; 0 none yet

    bool physicsDebug = false; // taken from the frame options at the start of each frame
    bool captureDue = false;   // keep the next frame for capture before presenting it

    Renderer() = default;
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;
    // Releases every chunk buffer and the sky background, then the backend with its device objects.
    ~Renderer();

    // Creates the Direct3D 11 device for the window and everything the frames need (Windows only).
    void initialize(HWND__* window);
    // Recreates the size-dependent targets; nothing without a device or for a size below 1.
    void resize(std::int32_t newWidth, std::int32_t newHeight);

    // Draws one complete frame and presents it.
    void render(const Game& game, const FrameOptions& options);
    // Appends the moving matter, enemies, supplies, rockets and tracers, submitting on the way when
    // the list grows large.
    void scene(const Game& game);
    // Rebuilds the static chunks that changed and draws those in view; eye in world coordinates.
    void staticScene(const Game& game, const Vec3& eye, const Vec3& forward);
    // The star world's celestial scene with its own camera: the cached sky background, the ten near
    // bodies far to near, and the skirt of far ground around a player on a body other than the
    // Earth; submits it and uploads the frame camera again. The origin is the same on return.
    void starsScene(const Game& game, const Camera& camera);
    // Appends the first-person view of the selected weapon and the player's arms in a frame fixed to
    // the camera, with walking bob, reload dip, kick and muzzle flash; nothing while scoped.
    void viewmodel(const Game& game);

    // ---- primitives: each appends to the vertex list with the current-vertex state ----
    void triangle(const Vec3& a, const Vec3& b, const Vec3& c, const Color& color);
    // The triangles (a, b, c) and (a, c, d).
    void quad(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d, const Color& color);
    // An axis-aligned box of full extents size around center, faces shaded by direction.
    void box(const Vec3& center, const Vec3& size, const Color& color);
    // A flat horizontal ribbon 2 x width wide from one point to another.
    void beam(const Vec3& from, const Vec3& to, double width, const Color& color);
    // The oriented box of a matter piece, lit indoor or outdoor by its flag, with face normals.
    void matterMesh(const MatterPiece& piece);
    // The six shaded faces of an oriented box from its corners (corner i: +x for bit 0, +y for bit 1,
    // +z for bit 2) and its axes, with face normals, in the current lighting class, which it leaves
    // alone: star tiles and the weapon model draw with it too.
    void orientedBox(const std::array<Vec3, 8>& corners, const std::array<Vec3, 3>& axes, const Color& color);
    // Whether the piece is drawn from the static chunks: alive, and in no assembly or in one asleep.
    bool isStatic(const MatterPiece& piece, const Physics& physics) const;
    // Uploads the vertex list, draws it and empties it.
    void submit();

    // ---- the HUD canvas: menus, settings, armory and the in-game HUD ----
    // Draws the page of ui on the canvas and blends it over the frame.
    void drawHud(const Game& game, const UiState& ui);
    // A filled rectangle (x, y, w, h), right and bottom exclusive, in a GDI colour (0x00BBGGRR).
    void rect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t colour);
    // UTF-8 text with its top-left corner at (x, y) in one of the six HUD fonts.
    void text(std::int32_t x, std::int32_t y, const std::string& utf8, std::int32_t font,
              std::uint32_t colour);
    void line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, std::int32_t penWidth,
              std::uint32_t colour);
    // A menu button from x 80 to 440 and y to y + 40, lit while the mouse is over it.
    void button(std::int32_t y, const std::string& label, const UiState& ui, bool enabled);

    // Asks for the next frame to be kept for capture (taken before it is presented).
    void keepNextFrame() { captureDue = true; }
    // Writes the last frame drawn (the kept one when there is one) as a binary PPM file; true when
    // the whole file was written. Never throws.
    bool capture(const std::filesystem::path& path);

  private:
    void append(const Vec3& point, const Color& color);
    void rebuildChunk(const Physics& physics, std::size_t chunk);
    // The passes of the Earth: the sun disc, and the far pass of overview terrain and moving organism
    // slabs with logarithmic depth, which ends with the depth cleared and the near camera uploaded.
    void sunDisc(const View& view, const Vec3& sunDirection);
    void earthFarPass(const Game& game, const Camera& camera);
    // The organisms near enough to the eye for the near pass; drawn with the next submission.
    void nearOrganisms(const Game& game, const Vec3& eye);
    // An organism's box, lit outdoors.
    void organismBox(const BioBox& box);
    // The star scene's pieces.
    void skyBackground(const Stars& stars);
    void nearBody(const Stars& stars, int body, const Vec3& eye);
    void groundSkirt(const Stars& stars, int body, const Vec3& eye);
    // A tile of a body's surface: a box turned from +y onto the unit direction n, centred at the
    // eye-relative point, in the current lighting class.
    void surfaceTile(const Vec3& center, const Vec3& n, double width, double thickness, const Color& color);
};

// The star world when the world holds a star system (also while it stands on the Earth), else the
// Earth world when it holds an Earth engine, else plain.
WorldKind worldKind(const World& world);
// The eye point of the star world's lighting and celestial scene: the player's eye, without the
// blast shake.
Vec3 steadyEye(const Game& game);
// The Earth world's outdoor light for the sun of the day cycle: daylight, a warm twilight, and a dim
// blue night.
Vec3 earthDayLight(const DayCycle& day);
// How much a celestial body's position and radius around the eye are scaled so that it lies at the
// logarithmically compressed distance 1e6 log(1 + D / 1e6) m with its true angular size.
double compression(double distance);
// Latitude bands and longitude sectors of a near body of the given angular radius (radius over
// distance): coarse for tiny bodies, fine for large ones.
struct TileGrid {
    int bands = 0;
    int sectors = 0;
};
TileGrid tileGrid(double angularRadius);
// The shortest rotation that turns +y onto the unit direction n; none for a direction straight down.
Quaternion tileTurn(const Vec3& n);
// The eye and view basis of a frame: the fixed scenic camera on the menu pages, else the player's eye
// with the blast shake, looking along the aim.
View frameView(const Game& game, bool menu);
// The camera constants of a frame for the view, the renderer's origin and the client size.
Camera frameCamera(const Game& game, const View& view, const Vec3& origin, std::int32_t width,
                   std::int32_t height, bool menu);

// A position or normal narrowed to the device's f32 components.
Float3 narrowed(const Vec3& v);
// An RGB colour of the game's records as the primitives take it.
Color colorOf(const Vec3& rgb);

// The header of a binary PPM picture of the given size.
std::string ppmHeader(std::int32_t width, std::int32_t height);
// Writes the image as a binary PPM file; false when the file could not be written completely.
bool writePpm(const std::filesystem::path& path, const FrameImage& image);

} // namespace zarn
