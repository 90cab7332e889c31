def main():
    data = []
    x = 1
    for i in range(1, 1000001):
        x = (x * 75 + 74) % 65537
        data.append(x)
    data.sort()
    total = 0
    for i in range(0, 1000000, 1000):
        total += data[i]
    print(total)

main()
