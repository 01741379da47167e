# Calls with zero, one, three and four arguments: five million rounds of
# four calls each.
def zero():
    return 1


def one(a):
    return a + 1


def three(a, b, c):
    return (a + b) - c


def four(a, b, c, d):
    return (a - b) + (c - d)


def main():
    total = 0
    i = 0
    for _ in range(5000000):
        i = i + zero()
        total = one(total)
        total = three(total, i, 2)
        total = four(total, 3, i, i)
    print(i)
    print(total)


main()
