-- Mutual recursion: two functions that call each other down to depths
-- between 1,000 and 1,999, about 24 million calls in all.

-- The parentheses keep the calls from being tail calls, which the other
-- engines do not have either, so the recursion really goes deep.
local is_odd

local function is_even(n)
  if n < 1 then
    return true
  end
  return (is_odd(n - 1))
end

function is_odd(n)
  if n < 1 then
    return false
  end
  return (is_even(n - 1))
end

local n = 1000
local evens = 0
for _ = 1, 16000 do
  if is_even(n) then
    evens = evens + 1
  end
  n = n + 1
  if n > 1999 then
    n = 1000
  end
end
print(evens)
