int count;
bool flag;

float4 main(float4 col : COLOR0) : COLOR0
{
    float4 c = float4(count / 4.0, 0, 0, 1);
    if (flag)
        c.g = 1;
    return c;
}
