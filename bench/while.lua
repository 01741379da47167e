-- A while loop of exactly 100,000 iterations, entered afresh 30 times.
local total = 0
for _ = 1, 30 do
  local i = 0
  while i < 100000 do
    i = i + 1
    total = total + i
  end
end
print(total)
