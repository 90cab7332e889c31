local data = {}
for i = 1, 1000 do data[#data + 1] = i % 37 end
local total = 0
for _, a in ipairs(data) do
  for _, b in ipairs(data) do total = total + a * b end
end
print(total)
