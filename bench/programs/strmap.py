def main():
    m = {}
    for i in range(1, 200001):
        m["key-" + str(i)] = i % 1000
    total = 0
    for i in range(1, 200001):
        total += m["key-" + str(i)]
    print(total)


main()
