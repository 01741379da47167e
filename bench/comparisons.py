# Comparisons of every kind, counted in ints: > and < on ints, floats and
# mixed pairs, == and != on five kinds of value, not on bools; 3M rounds.


def main():
    i = 0
    r = 0
    w = 0.0
    s = "wolf"
    t = "wolf"
    a = "a"
    b = "a"
    up = True
    keep = True
    less = 0
    more = 0
    mixed = 0
    same = 0
    other = 0
    words = 0
    signs = 0
    vows = 0
    for _ in range(3000000):
        i = i + 1
        r = r + 1
        w = w + 0.25
        if r > 6:
            r = 0
            up = not up
            if t == "wolf":
                t = "lion"
                b = "b"
            else:
                t = "wolf"
                b = "a"
        if r < 3:
            less = less + 1
        if w > 1000.5:
            more = more + 1
        if r > w:
            mixed = mixed + 1
        if w < i:
            mixed = mixed + 1
        if r == 4:
            same = same + 1
        if w == 2.5:
            same = same + 1
        if r != 5:
            other = other + 1
        if w != 3.75:
            other = other + 1
        if s == t:
            words = words + 1
        if s != t:
            words = words + 2
        if a == b:
            signs = signs + 1
        if a != b:
            signs = signs + 2
        if up == keep:
            vows = vows + 1
        if not up:
            vows = vows + 2
    print(less)
    print(more)
    print(mixed)
    print(same)
    print(other)
    print(words)
    print(signs)
    print(vows)


main()
