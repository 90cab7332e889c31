local total = 0
for i = 1, 10000000 do total = total + 1 end
print(total)
