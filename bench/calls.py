# Three million calls of a two-argument function inside a counted loop.
def add(a, b):
    return a + b


def main():
    total = 0
    i = 0
    for _ in range(3000000):
        total = add(total, i)
        i = i + 1
    print(total)


main()
