-- Short strings: joins of a few pieces, comparisons of the results and
-- copies between variables, four million rounds.

local a = "Stark"
local b = "Lannister"
local t = ""
local name = ""
local same = 0
local other = 0
for _ = 1, 4000000 do
  name = a .. " of " .. b
  if name == "Stark of Lannister" then
    same = same + 1
  end
  if name ~= "Stark of Lannister" then
    other = other + 2
  end
  t = a
  a = b
  b = t
end
print(same)
print(other)
print(name)
