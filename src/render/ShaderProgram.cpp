#include "render/ShaderProgram.hpp"

namespace zarn {

// Written in the part of HLSL that every compiler the game meets accepts, including the one Wine
// carries: no ?: (an if instead), no functions of our own (repeated code instead) and no log2, exp,
// sqrt, sin or asfloat. The base-2 logarithm of the logarithmic depth is spelled out twice: the
// exponent comes from the float's bits, the mantissa (kept within [0.707, 1.414)) goes through
// ln m = 2 (t + t^3/3 + t^5/5 + t^7/7 + t^9/9) with t = (m - 1) / (m + 1), |t| < 0.172, which is
// good to about 1e-7 relative.
const char* const shaderProgram = R"hlsl(
cbuffer Camera : register(b0)
{
    float4 eye;
    float4 right;
    float4 up;
    float4 forward;
    float4 projection;
    float4 outdoorLight;
    float4 indoorLight;
    float4 fogColor;
    float4 starLight;
    float4 starSphere;
    float4 starParameters;
};

Texture2D hudTexture : register(t0);
SamplerState hudSampler : register(s0);

struct VertexInput
{
    float3 position : POSITION;
    float3 color : COLOR;
    float indoor : TEXCOORD0;
    float3 normal : NORMAL;
};

struct PixelInput
{
    float4 position : SV_Position;
    float3 color : COLOR;
    float distance : TEXCOORD0;
    float viewDepth : TEXCOORD1;
    nointerpolation float indoor : TEXCOORD2;
};

struct EarthOutput
{
    float4 color : SV_Target;
    float depth : SV_Depth;
};

struct HudVertex
{
    float4 position : SV_Position;
    float2 uv : TEXCOORD0;
};

PixelInput VS(VertexInput input)
{
    PixelInput output;
    float3 p = input.position - eye.xyz;
    float z = dot(p, forward.xyz);
    float k = 1.000027;
    if (projection.z > 0.5)
    {
        k = 1.0;
    }
    output.position = float4(dot(p, right.xyz) * projection.x / projection.y, dot(p, up.xyz) * projection.x,
                             z * k - 0.08, z);
    if (projection.z > 0.5)
    {
        float x = 1.0 + max(0.0, z);
        uint bits = asuint(x);
        float e = (float)(bits >> 23) - 127.0;
        float m = 1.0 + (float)(bits & 8388607) / 8388608.0;
        if (m > 1.4142135)
        {
            m = m * 0.5;
            e = e + 1.0;
        }
        float t = (m - 1.0) / (m + 1.0);
        float t2 = t * t;
        float series = t * (1.0 + t2 * (0.33333333 + t2 * (0.2 + t2 * (0.14285714 + t2 * 0.11111111))));
        float logDepth = e + 2.8853900817779268 * series;
        output.position.z = logDepth / 25.575424759098897 * z;
    }

    float3 light = lerp(outdoorLight.xyz, indoorLight.xyz, input.indoor);
    if (input.indoor > 1.5)
    {
        light = float3(1.0, 1.0, 1.0);
    }
    float3 color = input.color * light;
    if (starLight.w > 0.5 && input.indoor < 1.5)
    {
        float3 radial = input.position - starSphere.xyz;
        float b = dot(radial, starLight.xyz);
        float disc = b * b - dot(radial, radial) + starSphere.w * starSphere.w;
        float lit = dot(input.normal, starLight.xyz);
        if (b < 0.0 && disc > 0.0)
        {
            lit = 0.0;
        }
        color = input.color * (0.018 + max(0.0, lit) * starParameters.x + outdoorLight.xyz);
    }
    if (input.indoor > 2.5)
    {
        color = max(fogColor.xyz, color * starParameters.z);
    }
    output.color = color;
    output.distance = length(p);
    output.viewDepth = z;
    output.indoor = input.indoor;
    return output;
}

float4 PS(PixelInput input) : SV_Target
{
    float fog = saturate((input.distance - 130.0) / 1550.0);
    if (starLight.w > 0.5)
    {
        fog = fog * starParameters.y;
    }
    if (input.indoor > 0.5)
    {
        fog = 0.0;
    }
    return float4(lerp(input.color, fogColor.xyz, fog), 1.0);
}

EarthOutput EarthPS(PixelInput input)
{
    EarthOutput output;
    float fog = saturate((input.distance - 130.0) / 1550.0);
    if (projection.z > 0.5)
    {
        fog = 0.35 * saturate((input.distance - 384.0) / 1000000.0);
    }
    if (starLight.w > 0.5)
    {
        fog = fog * starParameters.y;
    }
    if (input.indoor > 0.5)
    {
        fog = 0.0;
    }
    output.color = float4(lerp(input.color, fogColor.xyz, fog), 1.0);
    output.depth = input.position.z;
    if (projection.z > 0.5)
    {
        float x = 1.0 + max(0.0, input.viewDepth);
        uint bits = asuint(x);
        float e = (float)(bits >> 23) - 127.0;
        float m = 1.0 + (float)(bits & 8388607) / 8388608.0;
        if (m > 1.4142135)
        {
            m = m * 0.5;
            e = e + 1.0;
        }
        float t = (m - 1.0) / (m + 1.0);
        float t2 = t * t;
        float series = t * (1.0 + t2 * (0.33333333 + t2 * (0.2 + t2 * (0.14285714 + t2 * 0.11111111))));
        output.depth = (e + 2.8853900817779268 * series) / 25.575424759098897;
    }
    return output;
}

HudVertex HUDVS(uint index : SV_VertexID)
{
    HudVertex output;
    output.uv = float2((float)((index * 2) & 2), (float)(index & 2));
    output.position = float4(output.uv.x * 2.0 - 1.0, 1.0 - output.uv.y * 2.0, 0.0, 1.0);
    return output;
}

float4 HUDPS(HudVertex input) : SV_Target
{
    return hudTexture.Sample(hudSampler, input.uv);
}
)hlsl";

} // namespace zarn
