# Output: half a million lines, an int, a string, a float, a boolean as
# aye/nay and a one-character string in each of 100,000 rounds.
def main():
    i = 0
    w = 0.25
    up = True
    for _ in range(100000):
        i = i + 1
        print(i)
        print("the night is dark and full of terrors")
        print(w)
        print("aye" if up else "nay")
        print("x")
        w = w + 0.5
        up = not up


main()
