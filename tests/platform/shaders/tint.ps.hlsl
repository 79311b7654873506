float4 _tint;

float4 main(float4 col : COLOR0) : COLOR0
{
    return col * _tint;
}
