def main():
    data = []
    for i in range(1, 1001):
        data.append(i % 37)
    total = 0
    for a in data:
        for b in data:
            total += a * b
    print(total)

main()
