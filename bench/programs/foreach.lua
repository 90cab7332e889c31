local data = {}
for i = 1, 1000000 do data[#data + 1] = i % 100 end
local total = 0
for _, v in ipairs(data) do total = total + v end
print(total)
