float4 main(float4 col : COLOR0) : COLOR0
{
    return col;
}
