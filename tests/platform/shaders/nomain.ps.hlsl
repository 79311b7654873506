float4 shade(float4 col : COLOR0) : COLOR0
{
    return col;
}
