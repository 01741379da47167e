# Fresh locals in a loop body, the counterpart of declarations in a block:
# an int, a float and a string set and used in each of ten million rounds.


def main():
    total = 0
    weight = 0.0
    matches = 0
    for _ in range(10000000):
        z = 5
        w = 0.5
        s = "raven"
        total = total + z
        weight = weight + w
        if s == "raven":
            matches = matches + 1
    print(total)
    print(int(weight))
    print(matches)


main()
