# Mutual recursion: two functions that call each other down to depths
# between 1,000 and 1,999, about 24 million calls in all.
import sys

sys.setrecursionlimit(10000)


def is_even(n):
    if n < 1:
        return True
    return is_odd(n - 1)


def is_odd(n):
    if n < 1:
        return False
    return is_even(n - 1)


def main():
    n = 1000
    evens = 0
    for _ in range(16000):
        if is_even(n):
            evens = evens + 1
        n = n + 1
        if n > 1999:
            n = 1000
    print(evens)


main()
