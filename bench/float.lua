-- Floating-point arithmetic: the harmonic series and the Leibniz series for
-- pi summed term by term, five million terms of each.

-- The shortest text that reads back to the same float, without exponent for
-- the magnitudes printed here, as the other engines print it.
local function show(x)
  if x == math.floor(x) then
    return string.format("%d", x)
  end
  for digits = 1, 17 do
    local text = string.format("%." .. digits .. "g", x)
    if tonumber(text) == x then
      return text
    end
  end
end

local h = 0.0
local k = 0.0
local goal = 1.0
local p = 0.0
local d = 1.0
local sign = 4.0
for _ = 1, 5000000 do
  k = k + 1.0
  h = h + (1.0 / k)
  if h > goal then
    print(show(k))
    goal = goal + 1.0
  end
  p = p + (sign / d)
  d = d + 2.0
  sign = -sign
end
print(show(h))
print(show(p))
