local function f(a, more, b, most, c)
  local x = a
  if more then x = x + b end
  if most then x = x + c end
  return x
end
local total = 0
for i = 1, 1000000 do total = total + f(i % 10, true, 1, true, 2) end
print(total)
