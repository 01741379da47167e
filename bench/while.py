# A while loop of exactly 100,000 iterations, entered afresh 30 times.
def main():
    total = 0
    for _ in range(30):
        i = 0
        while i < 100000:
            i = i + 1
            total = total + i
    print(total)


main()
