class O:
    def __init__(self):
        self.count = 0

def main():
    o = O()
    for i in range(1, 1000001):
        o.count = o.count + 1
    print(o.count)

main()
