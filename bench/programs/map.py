def main():
    m = {}
    for i in range(1, 200001):
        m[i * 7] = i % 1000
    total = 0
    for i in range(1, 200001):
        total += m[i * 7]
    print(total)

main()
