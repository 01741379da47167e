-- Reads and updates of an enclosing function's variables from inner
-- functions (upvalues), twelve million rounds of two calls each.
local function run(rounds, cap)
  local acc = 0
  local seen = 0
  local wraps = 0

  local function bump(step)
    acc = acc + step
    seen = seen + 1
  end

  local function over()
    return acc > cap
  end

  for _ = 1, rounds do
    bump(7)
    if over() then
      acc = acc - cap
      wraps = wraps + 1
    end
  end
  return (wraps * 1000000) + (seen - rounds) + acc
end

print(run(12000000, 1000))
