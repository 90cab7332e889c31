def f(a, more=False, b=None, most=False, c=None):
    x = a
    if more:
        x = x + b
    if most:
        x = x + c
    return x

def main():
    total = 0
    for i in range(1, 1000001):
        total += f(i % 10, True, 1, True, 2)
    print(total)

main()
