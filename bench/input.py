# Input: six million lines read from standard input, an int and a string in
# each of three million rounds, then one read past the end, which gives "".
import sys


def main():
    n = 0
    s = ""
    total = 0
    ravens = 0
    for _ in range(3000000):
        n = int(sys.stdin.readline().rstrip("\r\n"))
        s = sys.stdin.readline().rstrip("\r\n")
        total = total + n
        if s == "raven":
            ravens = ravens + 1
    print(total)
    print(ravens)
    s = sys.stdin.readline().rstrip("\r\n")
    print("aye" if s == "" else "nay")


main()
