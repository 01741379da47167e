# A counted loop of three million iterations with three integer
# assignments each.
def main():
    a = 0
    b = 0
    c = 0
    for _ in range(3000000):
        a = a + 1
        b = b + (a * 3)
        c = (b - c) + 7
    print(a)
    print(b)
    print(c)


main()
