-- an array of 10,000 reals: filled, then 100 rounds of a[i] = a[i] + 1, then summed; the same while loops
-- over real locals as array.kvs (a real index names the same element as the integer one)
local t = os.clock()
local a = {}
local i = 0.0
while i < 10000 do
  a[i + 1] = i
  i = i + 1
end
local r = 0.0
while r < 100 do
  i = 0.0
  while i < 10000 do
    a[i + 1] = a[i + 1] + 1
    i = i + 1
  end
  r = r + 1
end
local s = 0.0
i = 0.0
while i < 10000 do
  s = s + a[i + 1]
  i = i + 1
end
print(os.clock() - t, s)
