-- Two nested counted loops, two million inner iterations in all, each
-- taking one branch of an if/else.
local k = 0
local wraps = 0
local total = 0
for _ = 1, 2000 do
  for _ = 1, 1000 do
    k = k + 1
    if k > 6 then
      k = 0
      wraps = wraps + 1
    else
      total = total + k
    end
  end
end
print(wraps)
print(total)
