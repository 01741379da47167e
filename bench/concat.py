# A string grown by 100,000 single-character concatenations, counted and
# compared with one of the same length built from 1,000 pieces of 100.
def main():
    s = ""
    n = 0
    for _ in range(100000):
        s = s + "x"
        n = n + 1
    piece = ""
    for _ in range(100):
        piece = piece + "x"
    t = ""
    for _ in range(1000):
        t = t + piece
    print(n)
    if s == t:
        print("same")
    else:
        print("different")


main()
