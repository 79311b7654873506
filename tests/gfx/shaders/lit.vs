// Per-vertex lighting from the engine's light arrays: ambient plus each light's diffuse term.
float4x4 kv_Matrices[5];
float4 kv_Lights_Direction[8];
float4 kv_Lights_PosRange[8];
float4 kv_Lights_Colour[8];
float4 kv_AmbientColour;
bool kv_LightingEnabled;

struct VOut {
    float4 pos : POSITION;
    float4 col : COLOR0;
};

VOut main (float4 pos : POSITION, float3 normal : NORMAL, float4 col : COLOR0)
{
    VOut o;
    o.pos = mul (pos, kv_Matrices[4]);
    float3 wpos = mul (pos, kv_Matrices[2]).xyz;
    float3 n = normalize (mul (float4 (normal, 0), kv_Matrices[2]).xyz);
    float4 sum = kv_AmbientColour;
    for (int i = 0; i < 8; i++) {
        float3 l;
        float att;
        if (kv_Lights_Direction[i].w > 0.5) {
            l = kv_Lights_Direction[i].xyz;
            att = 1.0;
        } else {
            float3 d = kv_Lights_PosRange[i].xyz - wpos;
            float dist = length (d);
            l = d / max (dist, 0.0001);
            att = dist <= kv_Lights_PosRange[i].w ? 1.0 / (1.0 + dist / kv_Lights_PosRange[i].w) : 0.0;
        }
        sum += kv_Lights_Colour[i] * att * max (dot (n, l), 0.0);
    }
    o.col = kv_LightingEnabled ? float4 (saturate (sum.rgb) * col.rgb, col.a) : col;
    return o;
}
