def main():
    letters = "abcdefghijklmnopqrstuvwxyz"
    s = ""
    for i in range(1, 1000001):
        s += letters[i % 26]
    print(len(s), ord(s[777776]))

main()
