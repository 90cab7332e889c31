local m = {}
for i = 1, 200000 do m[i * 7] = i % 1000 end
local total = 0
for i = 1, 200000 do total = total + m[i * 7] end
print(total)
