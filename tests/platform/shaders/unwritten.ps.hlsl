// Reads a texture coordinate the vertex program does not write.
float4 main(float4 col : COLOR0, float2 extra : TEXCOORD3) : COLOR0
{
    return col * extra.x;
}
