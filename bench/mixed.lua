-- Mixed integer and float arithmetic: integer plus float, integer times
-- float, and division, which always gives a float, three million rounds.

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

local i = 0
local half = 0.5
local acc = 0.0
local drift = 0.0
local over = 0
local x, y, q = 0.0, 0.0, 0.0
for _ = 1, 3000000 do
  i = i + 1
  x = i * half
  y = 2 + x
  q = i / 3
  acc = acc + (q - y)
  drift = (drift * 0.5) + (i / 8)
  if q > 500000 then
    over = over + 1
  end
end
print(over)
print(show(acc))
print(show(drift))
