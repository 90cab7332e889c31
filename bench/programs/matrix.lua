local n = 120
local function make_matrix(p, q)
  local m = {}
  for i = 1, n do
    local row = {}
    for j = 1, n do row[j] = ((i * p + j * q) % 8) / 4.0 end
    m[i] = row
  end
  return m
end
local a, b, c = make_matrix(7, 3), make_matrix(5, 11), make_matrix(0, 0)
for i = 1, n do
  local ai, ci = a[i], c[i]
  for j = 1, n do
    local s = 0.0
    for k = 1, n do s = s + ai[k] * b[k][j] end
    ci[j] = s
  end
end
local total = 0.0
for _, row in ipairs(c) do
  for _, x in ipairs(row) do total = total + x end
end
print(math.floor(total * 16))
