-- A counted loop of three million iterations with three integer
-- assignments each.
local a = 0
local b = 0
local c = 0
for _ = 1, 3000000 do
  a = a + 1
  b = b + (a * 3)
  c = (b - c) + 7
end
print(a)
print(b)
print(c)
