-- fib(27) by recursive calls, over reals as the runtime's scripts compute
local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
local t = os.clock()
local r = fib(27.0)
print(os.clock() - t, r)
