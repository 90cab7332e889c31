def main():
    low = 0
    high = 0
    for i in range(1, 1000001):
        if i % 7 < 3:
            low += 1
        else:
            high += 2
    print(low + high)

main()
