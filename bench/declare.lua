-- Local declarations in a loop body: an integer, a float and a string
-- declared and used in each of ten million rounds.

local total = 0
local weight = 0.0
local matches = 0
for _ = 1, 10000000 do
  local z = 5
  local w = 0.5
  local s = "raven"
  total = total + z
  weight = weight + w
  if s == "raven" then
    matches = matches + 1
  end
end
print(total)
print(string.format("%d", weight))
print(matches)
