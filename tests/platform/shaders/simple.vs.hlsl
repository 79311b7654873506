// Position as given, colour and texture coordinates passed on.
void main(float4 pos : POSITION, float4 col : COLOR0, float2 uv : TEXCOORD0,
          out float4 oPos : POSITION, out float4 oCol : COLOR0, out float2 oUv : TEXCOORD0)
{
    oPos = pos;
    oCol = col;
    oUv = uv;
}
