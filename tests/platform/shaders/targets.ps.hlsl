// Two render targets.
struct PsOut {
    float4 c0 : COLOR0;
    float4 c1 : COLOR1;
};

PsOut main(float4 col : COLOR0)
{
    PsOut o;
    o.c0 = col;
    o.c1 = float4(1, 1, 1, 1) - col;
    return o;
}
