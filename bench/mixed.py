# Mixed integer and float arithmetic: int plus float, int times float, and
# true division, which always gives a float, three million rounds.


def show(x):
    # The other engines print an integral float without ".0".
    return str(int(x)) if x.is_integer() else repr(x)


def main():
    i = 0
    half = 0.5
    acc = 0.0
    drift = 0.0
    over = 0
    for _ in range(3000000):
        i = i + 1
        x = i * half
        y = 2 + x
        q = i / 3
        acc = acc + (q - y)
        drift = (drift * 0.5) + (i / 8)
        if q > 500000:
            over = over + 1
    print(over)
    print(show(acc))
    print(show(drift))


main()
