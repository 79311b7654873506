float4 a[100000];

float4 main(float4 col : COLOR0) : COLOR0
{
    return col * a[99999];
}
