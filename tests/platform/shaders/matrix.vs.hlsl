// Two transforms in a row: one with the default packing, one declared row_major.
float4x4 M;
row_major float4x4 N;

float4 main(float4 pos : POSITION, out float4 oCol : COLOR0) : POSITION
{
    oCol = float4(1, 1, 1, 1);
    return mul(mul(pos, M), N);
}
