float3 a3[2];
float4 a4[3];

void main(float4 pos : POSITION, out float4 oPos : POSITION, out float4 oCol : COLOR0)
{
    oPos = pos;
    oCol = float4(a3[1], 0) + a4[2];
}
