-- Lua strings are immutable; its way of appending is a buffer table joined at the end.
local letters = "abcdefghijklmnopqrstuvwxyz"
local parts = {}
for i = 1, 1000000 do
  local k = i % 26 + 1
  parts[#parts + 1] = letters:sub(k, k)
end
local s = table.concat(parts)
print(#s .. " " .. s:byte(777777))
