def main():
    total = 0
    for i in range(1, 10000001):
        total += 1
    print(total)

main()
