-- Three million calls of a two-argument function inside a counted loop.
local function add(a, b)
  return a + b
end

local total = 0
local i = 0
for _ = 1, 3000000 do
  total = add(total, i)
  i = i + 1
end
print(total)
