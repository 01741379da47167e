# Recursion 10,000 calls deep, repeated 100 times.
import sys

sys.setrecursionlimit(20000)


def down(n):
    if n < 1:
        return 0
    return down(n - 1) + 1


def main():
    total = 0
    for _ in range(100):
        total = total + down(10000)
    print(total)


main()
