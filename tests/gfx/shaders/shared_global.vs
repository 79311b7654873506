// A global of the same name in both programs: two constants.
float4x4 kv_Matrices[5];
float4 shared_value;

struct VOut {
    float4 pos : POSITION;
    float4 col : COLOR0;
};

VOut main (float4 pos : POSITION)
{
    VOut o;
    o.pos = mul (pos, kv_Matrices[4]);
    o.col = shared_value;
    return o;
}
