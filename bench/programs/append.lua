-- 100,000 x s = s .. "x", in the same while loop as append.kvs
local t = os.clock()
local s, i = "", 0.0
while i < 100000 do
  s = s .. "x"
  i = i + 1
end
print(os.clock() - t, #s)
