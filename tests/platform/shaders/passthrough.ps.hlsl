sampler2D kv_BaseTexture;

float4 main(float4 col : COLOR0, float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(kv_BaseTexture, uv) * col;
}
