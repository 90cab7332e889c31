def make_matrix(n, p, q):
    m = []
    for i in range(1, n + 1):
        row = []
        for j in range(1, n + 1):
            row.append((i * p + j * q) % 8 / 4.0)
        m.append(row)
    return m


def main():
    n = 120
    a, b, c = make_matrix(n, 7, 3), make_matrix(n, 5, 11), make_matrix(n, 0, 0)
    for i in range(n):
        ai, ci = a[i], c[i]
        for j in range(n):
            s = 0.0
            for k in range(n):
                s += ai[k] * b[k][j]
            ci[j] = s
    total = 0.0
    for row in c:
        for x in row:
            total += x
    print(int(total * 16))

main()
