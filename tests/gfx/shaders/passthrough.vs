// Position through the engine's world x view x projection; colour and texture coordinate as they come.
float4x4 kv_Matrices[5];

struct VIn {
    float4 pos : POSITION;
    float4 col : COLOR0;
    float2 uv : TEXCOORD0;
};
struct VOut {
    float4 pos : POSITION;
    float4 col : COLOR0;
    float2 uv : TEXCOORD0;
};

VOut main (VIn i)
{
    VOut o;
    o.pos = mul (i.pos, kv_Matrices[4]);
    o.col = i.col;
    o.uv = i.uv;
    return o;
}
