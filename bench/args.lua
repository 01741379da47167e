-- Calls with zero, one, three and four arguments: five million rounds of
-- four calls each.
local function zero()
  return 1
end

local function one(a)
  return a + 1
end

local function three(a, b, c)
  return (a + b) - c
end

local function four(a, b, c, d)
  return (a - b) + (c - d)
end

local total = 0
local i = 0
for _ = 1, 5000000 do
  i = i + zero()
  total = one(total)
  total = three(total, i, 2)
  total = four(total, 3, i, i)
end
print(i)
print(total)
