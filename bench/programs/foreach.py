def main():
    data = []
    for i in range(1, 1000001):
        data.append(i % 100)
    total = 0
    for v in data:
        total += v
    print(total)

main()
