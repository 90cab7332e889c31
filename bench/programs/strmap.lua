local m = {}
for i = 1, 200000 do m["key-" .. i] = i % 1000 end
local total = 0
for i = 1, 200000 do total = total + m["key-" .. i] end
print(total)
