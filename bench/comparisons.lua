-- Comparisons of every kind, counted in integers: > and < on integers,
-- floats and mixed pairs, == and ~= on five kinds of value, not; 3M rounds.

local i = 0
local r = 0
local w = 0.0
local s = "wolf"
local t = "wolf"
local a = "a"
local b = "a"
local up = true
local keep = true
local less = 0
local more = 0
local mixed = 0
local same = 0
local other = 0
local words = 0
local signs = 0
local vows = 0
for _ = 1, 3000000 do
  i = i + 1
  r = r + 1
  w = w + 0.25
  if r > 6 then
    r = 0
    up = not up
    if t == "wolf" then
      t = "lion"
      b = "b"
    else
      t = "wolf"
      b = "a"
    end
  end
  if r < 3 then
    less = less + 1
  end
  if w > 1000.5 then
    more = more + 1
  end
  if r > w then
    mixed = mixed + 1
  end
  if w < i then
    mixed = mixed + 1
  end
  if r == 4 then
    same = same + 1
  end
  if w == 2.5 then
    same = same + 1
  end
  if r ~= 5 then
    other = other + 1
  end
  if w ~= 3.75 then
    other = other + 1
  end
  if s == t then
    words = words + 1
  end
  if s ~= t then
    words = words + 2
  end
  if a == b then
    signs = signs + 1
  end
  if a ~= b then
    signs = signs + 2
  end
  if up == keep then
    vows = vows + 1
  end
  if not up then
    vows = vows + 2
  end
end
print(less)
print(more)
print(mixed)
print(same)
print(other)
print(words)
print(signs)
print(vows)
