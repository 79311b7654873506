// matrix_row.vs with the engine matrices declared a row per register, so a shader of a type whose matrices
// are sent untransposed still places its vertices; M keeps the default packing.
row_major float4x4 kv_Matrices[5];
float4x4 M;

struct VOut {
    float4 pos : POSITION;
    float4 col : COLOR0;
};

VOut main (float4 pos : POSITION)
{
    VOut o;
    o.pos = mul (pos, kv_Matrices[4]);
    o.col = mul (float4 (0, 1, 0, 0), M);
    return o;
}
