# Two nested counted loops, two million inner iterations in all, each
# taking one branch of an if/else.
def main():
    k = 0
    wraps = 0
    total = 0
    for _ in range(2000):
        for _ in range(1000):
            k = k + 1
            if k > 6:
                k = 0
                wraps = wraps + 1
            else:
                total = total + k
    print(wraps)
    print(total)


main()
