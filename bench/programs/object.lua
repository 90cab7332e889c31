local o = {count = 0}
for i = 1, 1000000 do o.count = o.count + 1 end
print(o.count)
