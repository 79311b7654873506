// A projective texture coordinate: (u, v) scaled by w = 2.
float4x4 kv_Matrices[5];

struct VOut {
    float4 pos : POSITION;
    float4 uvq : TEXCOORD0;
};

VOut main (float4 pos : POSITION, float2 uv : TEXCOORD0)
{
    VOut o;
    o.pos = mul (pos, kv_Matrices[4]);
    o.uvq = float4 (uv * 2.0, 0.0, 2.0);
    return o;
}
