# Reads and updates of an enclosing function's variables from inner
# functions (nonlocal), twelve million rounds of two calls each.
def run(rounds, cap):
    acc = 0
    seen = 0
    wraps = 0

    def bump(step):
        nonlocal acc, seen
        acc = acc + step
        seen = seen + 1

    def over():
        return acc > cap

    for _ in range(rounds):
        bump(7)
        if over():
            acc = acc - cap
            wraps = wraps + 1
    return (wraps * 1000000) + (seen - rounds) + acc


print(run(12000000, 1000))
