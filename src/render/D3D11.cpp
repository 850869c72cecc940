// The Direct3D 11 backend of the renderer: the device, the swap chain, the compiled shader program,
// the buffers and states, and the frame's execution on them.

#include <windows.h>

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi.h>

#include <cfloat>
#include <cstring>
#include <span>
#include <stdexcept>

#include "render/DeviceErrors.hpp"
#include "render/GdiCanvas.hpp"
#include "render/Renderer.hpp"
#include "render/ShaderProgram.hpp"

namespace zarn {

namespace {

void checked(HRESULT result, const char* what) {
    if (result < 0) {
        throw std::runtime_error(failureMessage(static_cast<std::int32_t>(result), what));
    }
}

// Compiles one entry point of the shader source; the caller releases the code.
ID3DBlob* compile(const char* source, const char* entry, const char* target) {
    ID3DBlob* code = nullptr;
    ID3DBlob* errors = nullptr;
    const HRESULT result = D3DCompile(source, std::strlen(source), nullptr, nullptr, nullptr, entry, target,
                                      D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, &code, &errors);
    if (FAILED(result)) {
        std::string text = "Shader compilation failed";
        if (errors != nullptr) {
            text = compilerMessage(errors->GetBufferPointer(), errors->GetBufferSize());
            errors->Release();
        }
        if (code != nullptr) {
            code->Release();
        }
        throw std::runtime_error(text);
    }
    if (errors != nullptr) {
        errors->Release();
    }
    return code;
}

template <typename T> void release(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

class Direct3D final : public RenderBackend {
  public:
    HWND window = nullptr;
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    IDXGISwapChain* swapChain = nullptr;
    ID3D11RenderTargetView* renderTarget = nullptr;
    ID3D11DepthStencilView* depthView = nullptr;
    ID3D11VertexShader* vertexShader = nullptr;
    ID3D11PixelShader* pixelShader = nullptr;
    ID3D11PixelShader* earthPixelShader = nullptr;
    ID3D11VertexShader* hudVertexShader = nullptr;
    ID3D11PixelShader* hudPixelShader = nullptr;
    ID3D11InputLayout* inputLayout = nullptr;
    ID3D11Buffer* vertexBuffer = nullptr;
    ID3D11Buffer* cameraBuffer = nullptr;
    ID3D11RasterizerState* rasterizer = nullptr;
    ID3D11BlendState* hudBlend = nullptr;
    ID3D11DepthStencilState* hudDepth = nullptr;
    ID3D11Texture2D* hudTexture = nullptr;
    ID3D11ShaderResourceView* hudView = nullptr;
    ID3D11SamplerState* hudSampler = nullptr;
    // The staging copy of a frame taken for capture before it was presented.
    ID3D11Texture2D* keptFrame = nullptr;
    bool keptCurrent = false; // keptFrame holds the last frame drawn
    std::int32_t width = 0;
    std::int32_t height = 0;

    Direct3D() = default;
    Direct3D(const Direct3D&) = delete;
    Direct3D& operator=(const Direct3D&) = delete;

    ~Direct3D() override {
        if (context != nullptr) {
            context->ClearState();
        }
        release(keptFrame);
        release(hudSampler);
        release(hudView);
        release(hudTexture);
        release(hudDepth);
        release(hudBlend);
        release(rasterizer);
        release(cameraBuffer);
        release(vertexBuffer);
        release(inputLayout);
        release(hudPixelShader);
        release(hudVertexShader);
        release(pixelShader);
        release(earthPixelShader);
        release(vertexShader);
        release(depthView);
        release(renderTarget);
        release(swapChain);
        release(context);
        release(device);
    }

    // Creates everything but the size-dependent targets. What was made before a failure stays in the
    // members, and the destructor releases it.
    void create(HWND target, std::int32_t& clientWidth, std::int32_t& clientHeight) {
        window = target;
        RECT client{};
        GetClientRect(window, &client);
        clientWidth = client.right - client.left;
        clientHeight = client.bottom - client.top;
        width = clientWidth;
        height = clientHeight;

        createDevice();
        // The game's own full-screen mode is a borderless window: no Alt+Enter switch. A failure
        // here changes nothing that matters.
        IDXGIFactory* factory = nullptr;
        if (SUCCEEDED(swapChain->GetParent(__uuidof(IDXGIFactory), reinterpret_cast<void**>(&factory)))) {
            factory->MakeWindowAssociation(window, DXGI_MWA_NO_ALT_ENTER);
            factory->Release();
        }
        createShaders();
        createBuffersAndStates();
        createHud();
    }

    void resize(std::int32_t newWidth, std::int32_t newHeight) override {
        if (device == nullptr || swapChain == nullptr) {
            return;
        }
        width = newWidth;
        height = newHeight;
        context->OMSetRenderTargets(0, nullptr, nullptr);
        release(renderTarget);
        release(depthView);
        checked(swapChain->ResizeBuffers(0, static_cast<UINT>(newWidth), static_cast<UINT>(newHeight),
                                         DXGI_FORMAT_UNKNOWN, 0),
                "resize");

        ID3D11Texture2D* backBuffer = nullptr;
        checked(swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&backBuffer)),
                "backbuffer");
        HRESULT result = device->CreateRenderTargetView(backBuffer, nullptr, &renderTarget);
        backBuffer->Release();
        checked(result, "render target");

        D3D11_TEXTURE2D_DESC depth{};
        depth.Width = static_cast<UINT>(newWidth);
        depth.Height = static_cast<UINT>(newHeight);
        depth.MipLevels = 1;
        depth.ArraySize = 1;
        depth.Format = DXGI_FORMAT_D24_UNORM_S8_UINT;
        depth.SampleDesc.Count = 1;
        depth.Usage = D3D11_USAGE_DEFAULT;
        depth.BindFlags = D3D11_BIND_DEPTH_STENCIL;
        ID3D11Texture2D* depthTexture = nullptr;
        checked(device->CreateTexture2D(&depth, nullptr, &depthTexture), "depth texture");
        result = device->CreateDepthStencilView(depthTexture, nullptr, &depthView);
        depthTexture->Release();
        checked(result, "depth view");
    }

    void beginFrame(const Vec3& skyColor, PixelProgram program) override {
        keptCurrent = false;
        const float clear[4] = {static_cast<float>(skyColor.x), static_cast<float>(skyColor.y),
                                static_cast<float>(skyColor.z), 1.0f};
        context->ClearRenderTargetView(renderTarget, clear);
        context->ClearDepthStencilView(depthView, D3D11_CLEAR_DEPTH, 1.0f, 0);
        context->OMSetRenderTargets(1, &renderTarget, depthView);
        context->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFFu);
        context->OMSetDepthStencilState(nullptr, 0);
        context->RSSetState(rasterizer);
        D3D11_VIEWPORT viewport{};
        viewport.Width = static_cast<float>(width);
        viewport.Height = static_cast<float>(height);
        viewport.MaxDepth = 1.0f;
        context->RSSetViewports(1, &viewport);
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        context->IASetInputLayout(inputLayout);
        context->VSSetShader(vertexShader, nullptr, 0);
        usePixelProgram(program);
    }

    void uploadCamera(const Camera& camera, const char* what) override {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        checked(context->Map(cameraBuffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), what);
        std::memcpy(mapped.pData, &camera, sizeof camera);
        context->Unmap(cameraBuffer, 0);
        context->VSSetConstantBuffers(0, 1, &cameraBuffer);
        context->PSSetConstantBuffers(0, 1, &cameraBuffer);
    }

    void usePixelProgram(PixelProgram program) override {
        context->PSSetShader(program == PixelProgram::earth ? earthPixelShader : pixelShader, nullptr, 0);
    }

    void clearDepth() override { context->ClearDepthStencilView(depthView, D3D11_CLEAR_DEPTH, 1.0f, 0); }

    void setDepthTest(bool on) override { context->OMSetDepthStencilState(on ? nullptr : hudDepth, 0); }

    void draw(std::span<const Vertex> vertices) override {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        checked(context->Map(vertexBuffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), "map geometry");
        std::memcpy(mapped.pData, vertices.data(), vertices.size_bytes());
        context->Unmap(vertexBuffer, 0);
        bindAndDraw(vertexBuffer, static_cast<UINT>(vertices.size()));
    }

    GpuBuffer* createBuffer(std::span<const Vertex> vertices, const char* what) override {
        D3D11_BUFFER_DESC description{};
        description.ByteWidth = static_cast<UINT>(vertices.size_bytes());
        description.Usage = D3D11_USAGE_IMMUTABLE;
        description.BindFlags = D3D11_BIND_VERTEX_BUFFER;
        D3D11_SUBRESOURCE_DATA data{};
        data.pSysMem = vertices.data();
        ID3D11Buffer* buffer = nullptr;
        checked(device->CreateBuffer(&description, &data, &buffer), what);
        return reinterpret_cast<GpuBuffer*>(buffer);
    }

    void releaseBuffer(GpuBuffer* buffer) override { reinterpret_cast<ID3D11Buffer*>(buffer)->Release(); }

    void drawBuffer(GpuBuffer* buffer, std::uint32_t count) override {
        bindAndDraw(reinterpret_cast<ID3D11Buffer*>(buffer), count);
    }

    void compositeHud(std::span<const std::uint32_t> pixels) override {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        checked(context->Map(hudTexture, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped), "HUD upload");
        const std::size_t rowPixels = static_cast<std::size_t>(Renderer::canvasWidth);
        const bool blank = pixels.size() < rowPixels * Renderer::canvasHeight;
        for (std::int32_t y = 0; y < Renderer::canvasHeight; ++y) {
            auto* row =
                static_cast<std::uint8_t*>(mapped.pData) + static_cast<std::size_t>(y) * mapped.RowPitch;
            if (blank) {
                std::memset(row, 0, rowPixels * 4);
            } else {
                std::memcpy(row, pixels.data() + static_cast<std::size_t>(y) * rowPixels, rowPixels * 4);
            }
        }
        context->Unmap(hudTexture, 0);

        context->OMSetDepthStencilState(hudDepth, 0);
        context->OMSetBlendState(hudBlend, nullptr, 0xFFFFFFFFu);
        context->IASetInputLayout(nullptr);
        context->VSSetShader(hudVertexShader, nullptr, 0);
        context->PSSetShader(hudPixelShader, nullptr, 0);
        context->PSSetShaderResources(0, 1, &hudView);
        context->PSSetSamplers(0, 1, &hudSampler);
        context->Draw(3, 0);
        ID3D11ShaderResourceView* none = nullptr;
        context->PSSetShaderResources(0, 1, &none);
    }

    void keepFrame() override {
        keptCurrent = false;
        ID3D11Texture2D* backBuffer = nullptr;
        if (FAILED(
                swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&backBuffer)))) {
            return; // capture falls back to the back buffer
        }
        D3D11_TEXTURE2D_DESC description{};
        backBuffer->GetDesc(&description);
        if (keptFrame != nullptr) {
            D3D11_TEXTURE2D_DESC kept{};
            keptFrame->GetDesc(&kept);
            if (kept.Width != description.Width || kept.Height != description.Height) {
                release(keptFrame);
            }
        }
        if (keptFrame == nullptr && !createStaging(description, keptFrame)) {
            backBuffer->Release();
            return;
        }
        context->CopyResource(keptFrame, backBuffer);
        backBuffer->Release();
        keptCurrent = true;
    }

    void present() override { checked(swapChain->Present(1, 0), "present"); }

    bool readFrame(FrameImage& image) override {
        if (keptCurrent) {
            return readStaging(keptFrame, image);
        }
        ID3D11Texture2D* backBuffer = nullptr;
        if (FAILED(
                swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&backBuffer)))) {
            return false;
        }
        D3D11_TEXTURE2D_DESC description{};
        backBuffer->GetDesc(&description);
        ID3D11Texture2D* staging = nullptr;
        if (!createStaging(description, staging)) {
            backBuffer->Release();
            return false;
        }
        context->CopyResource(staging, backBuffer);
        const bool read = readStaging(staging, image);
        staging->Release();
        backBuffer->Release();
        return read;
    }

  private:
    void createDevice() {
        DXGI_SWAP_CHAIN_DESC chain{};
        chain.BufferDesc.Width = static_cast<UINT>(width);
        chain.BufferDesc.Height = static_cast<UINT>(height);
        chain.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
        chain.BufferDesc.RefreshRate = {0, 0};
        chain.SampleDesc.Count = 1;
        chain.SampleDesc.Quality = 0;
        chain.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        chain.BufferCount = 2;
        chain.OutputWindow = window;
        chain.Windowed = TRUE;
        chain.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
        chain.Flags = 0;
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1};
        HRESULT result =
            D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, levels, 2,
                                          D3D11_SDK_VERSION, &chain, &swapChain, &device, nullptr, &context);
        if (FAILED(result)) {
            // No hardware device: the software rasteriser draws the same frames, slower.
            result = D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0, levels, 2,
                                                   D3D11_SDK_VERSION, &chain, &swapChain, &device, nullptr,
                                                   &context);
            checked(result, "D3D11 device");
        }
    }

    void createShaders() {
        ID3DBlob* code = compile(shaderProgram, "VS", "vs_4_0");
        HRESULT result = device->CreateVertexShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr,
                                                    &vertexShader);
        if (FAILED(result)) {
            code->Release();
            checked(result, "vertex shader");
        }
        const D3D11_INPUT_ELEMENT_DESC layout[] = {
            {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"COLOR", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 12, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"TEXCOORD", 0, DXGI_FORMAT_R32_FLOAT, 0, 24, D3D11_INPUT_PER_VERTEX_DATA, 0},
            {"NORMAL", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 28, D3D11_INPUT_PER_VERTEX_DATA, 0},
        };
        result = device->CreateInputLayout(layout, 4, code->GetBufferPointer(), code->GetBufferSize(),
                                           &inputLayout);
        code->Release();
        checked(result, "input layout");

        createPixelShader("PS", pixelShader, "pixel shader");
        createPixelShader("EarthPS", earthPixelShader, "Earth pixel shader");

        code = compile(shaderProgram, "HUDVS", "vs_4_0");
        result = device->CreateVertexShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr,
                                            &hudVertexShader);
        code->Release();
        checked(result, "HUD vertex shader");
        createPixelShader("HUDPS", hudPixelShader, "HUD pixel shader");
    }

    void createPixelShader(const char* entry, ID3D11PixelShader*& shader, const char* what) {
        ID3DBlob* code = compile(shaderProgram, entry, "ps_4_0");
        const HRESULT result =
            device->CreatePixelShader(code->GetBufferPointer(), code->GetBufferSize(), nullptr, &shader);
        code->Release();
        checked(result, what);
    }

    void createBuffersAndStates() {
        D3D11_BUFFER_DESC buffer{};
        buffer.ByteWidth = static_cast<UINT>(Renderer::vertexBufferBytes);
        buffer.Usage = D3D11_USAGE_DYNAMIC;
        buffer.BindFlags = D3D11_BIND_VERTEX_BUFFER;
        buffer.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
        checked(device->CreateBuffer(&buffer, nullptr, &vertexBuffer), "vertex buffer");
        buffer.ByteWidth = sizeof(Camera);
        buffer.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
        checked(device->CreateBuffer(&buffer, nullptr, &cameraBuffer), "camera buffer");

        D3D11_RASTERIZER_DESC raster{};
        raster.FillMode = D3D11_FILL_SOLID;
        raster.CullMode = D3D11_CULL_NONE;
        raster.FrontCounterClockwise = FALSE;
        raster.DepthClipEnable = TRUE;
        checked(device->CreateRasterizerState(&raster, &rasterizer), "rasterizer");

        D3D11_BLEND_DESC blend{};
        blend.RenderTarget[0].BlendEnable = TRUE;
        blend.RenderTarget[0].SrcBlend = D3D11_BLEND_SRC_ALPHA;
        blend.RenderTarget[0].DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
        blend.RenderTarget[0].BlendOp = D3D11_BLEND_OP_ADD;
        blend.RenderTarget[0].SrcBlendAlpha = D3D11_BLEND_ONE;
        blend.RenderTarget[0].DestBlendAlpha = D3D11_BLEND_INV_SRC_ALPHA;
        blend.RenderTarget[0].BlendOpAlpha = D3D11_BLEND_OP_ADD;
        blend.RenderTarget[0].RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
        checked(device->CreateBlendState(&blend, &hudBlend), "HUD blend");

        // Depth test, depth writes and stencil off. The comparison functions are unused then, but
        // the runtime refuses values outside their enumeration, so they hold valid ones.
        D3D11_DEPTH_STENCIL_DESC depth{};
        depth.DepthEnable = FALSE;
        depth.DepthWriteMask = D3D11_DEPTH_WRITE_MASK_ZERO;
        depth.DepthFunc = D3D11_COMPARISON_ALWAYS;
        depth.StencilEnable = FALSE;
        depth.FrontFace = {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP,
                           D3D11_COMPARISON_ALWAYS};
        depth.BackFace = depth.FrontFace;
        checked(device->CreateDepthStencilState(&depth, &hudDepth), "HUD depth");
    }

    void createHud() {
        D3D11_TEXTURE2D_DESC texture{};
        texture.Width = Renderer::canvasWidth;
        texture.Height = Renderer::canvasHeight;
        texture.MipLevels = 1;
        texture.ArraySize = 1;
        texture.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        texture.SampleDesc.Count = 1;
        texture.Usage = D3D11_USAGE_DYNAMIC;
        texture.BindFlags = D3D11_BIND_SHADER_RESOURCE;
        texture.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
        checked(device->CreateTexture2D(&texture, nullptr, &hudTexture), "HUD texture");
        checked(device->CreateShaderResourceView(hudTexture, nullptr, &hudView), "HUD view");

        D3D11_SAMPLER_DESC sampler{};
        sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
        sampler.AddressU = D3D11_TEXTURE_ADDRESS_CLAMP;
        sampler.AddressV = D3D11_TEXTURE_ADDRESS_CLAMP;
        sampler.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
        sampler.MaxAnisotropy = 0;
        sampler.ComparisonFunc = D3D11_COMPARISON_NEVER; // unused without a comparison filter
        sampler.MaxLOD = FLT_MAX;
        checked(device->CreateSamplerState(&sampler, &hudSampler), "HUD sampler");
    }

    void bindAndDraw(ID3D11Buffer* buffer, UINT count) {
        const UINT stride = sizeof(Vertex);
        const UINT offset = 0;
        context->IASetVertexBuffers(0, 1, &buffer, &stride, &offset);
        context->Draw(count, 0);
    }

    bool createStaging(D3D11_TEXTURE2D_DESC description, ID3D11Texture2D*& staging) {
        description.Usage = D3D11_USAGE_STAGING;
        description.BindFlags = 0;
        description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        description.MiscFlags = 0;
        return SUCCEEDED(device->CreateTexture2D(&description, nullptr, &staging));
    }

    bool readStaging(ID3D11Texture2D* staging, FrameImage& image) {
        D3D11_TEXTURE2D_DESC description{};
        staging->GetDesc(&description);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        if (FAILED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
            return false;
        }
        image.width = static_cast<std::int32_t>(description.Width);
        image.height = static_cast<std::int32_t>(description.Height);
        image.pitch = mapped.RowPitch;
        const auto* bytes = static_cast<const std::uint8_t*>(mapped.pData);
        image.pixels.assign(bytes, bytes + image.pitch * description.Height);
        context->Unmap(staging, 0);
        return true;
    }
};

} // namespace

void Renderer::initialize(HWND window) {
    auto direct3D = std::make_unique<Direct3D>();
    Direct3D& device = *direct3D;
    backend = std::move(direct3D);
    device.create(window, width, height);
    canvas = createGdiCanvas();
    if (vertices.capacity() < reservedVertices) {
        vertices.reserve(reservedVertices);
    }
    resize(width, height);
}

} // namespace zarn
