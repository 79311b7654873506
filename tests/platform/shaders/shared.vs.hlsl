// The pixel program declares a global of the same name.
float4 shade;

void main(float4 pos : POSITION, out float4 oPos : POSITION, out float4 oCol : COLOR0)
{
    oPos = pos;
    oCol = shade;
}
