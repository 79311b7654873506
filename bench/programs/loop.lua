-- s += i mod 7 for i in [0, 10^7): the same while loop over real locals as loop.kvs
local t = os.clock()
local s, i = 0.0, 0.0
while i < 10000000 do
  s = s + i % 7
  i = i + 1
end
print(os.clock() - t, s)
