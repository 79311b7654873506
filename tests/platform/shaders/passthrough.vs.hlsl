// The engine's matrices: view, projection, world, world-view, world-view-projection.
float4x4 kv_Matrices[5];

struct VsIn {
    float4 pos : POSITION;
    float4 col : COLOR0;
    float2 uv : TEXCOORD0;
};
struct VsOut {
    float4 pos : POSITION;
    float4 col : COLOR0;
    float2 uv : TEXCOORD0;
};

VsOut main(VsIn i)
{
    VsOut o;
    o.pos = mul(i.pos, kv_Matrices[4]);
    o.col = i.col;
    o.uv = i.uv;
    return o;
}
