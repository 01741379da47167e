# Floating-point arithmetic: the harmonic series and the Leibniz series for
# pi summed term by term, five million terms of each.


def show(x):
    # The other engines print an integral float without ".0".
    return str(int(x)) if x.is_integer() else repr(x)


def main():
    h = 0.0
    k = 0.0
    goal = 1.0
    p = 0.0
    d = 1.0
    sign = 4.0
    for _ in range(5000000):
        k = k + 1.0
        h = h + (1.0 / k)
        if h > goal:
            print(show(k))
            goal = goal + 1.0
        p = p + (sign / d)
        d = d + 2.0
        sign = -sign
    print(show(h))
    print(show(p))


main()
