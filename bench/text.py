# Short strings: joins of a few pieces, comparisons of the results and
# copies between variables, four million rounds.


def main():
    a = "Stark"
    b = "Lannister"
    t = ""
    name = ""
    same = 0
    other = 0
    for _ in range(4000000):
        name = a + " of " + b
        if name == "Stark of Lannister":
            same = same + 1
        if name != "Stark of Lannister":
            other = other + 2
        t = a
        a = b
        b = t
    print(same)
    print(other)
    print(name)


main()
