local low, high = 0, 0
for i = 1, 1000000 do
  if i % 7 < 3 then low = low + 1 else high = high + 2 end
end
print(low + high)
