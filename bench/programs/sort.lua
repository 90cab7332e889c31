local data = {}
local x = 1
for i = 1, 1000000 do
  x = (x * 75 + 74) % 65537
  data[#data + 1] = x
end
table.sort(data)
local total = 0
for i = 1, 1000000, 1000 do total = total + data[i] end
print(total)
