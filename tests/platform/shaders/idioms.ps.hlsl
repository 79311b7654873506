// Older idioms: a sampler_state initialiser, tex2Dproj, VPOS and an implicit float4 → float3 truncation.
sampler2D image = sampler_state {
    MinFilter = Point;
    MagFilter = Point;
    AddressU = Clamp;
};

float4 main(float2 uv : TEXCOORD0, float2 vpos : VPOS) : COLOR0
{
    float3 c = tex2Dproj(image, float4(uv * 2, 0, 2));
    float odd = fmod(floor(vpos.x) + floor(vpos.y), 2);
    return float4(c * odd, 1);
}
