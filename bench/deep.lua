-- Recursion 10,000 calls deep, repeated 100 times.
local function down(n)
  if n < 1 then
    return 0
  end
  return down(n - 1) + 1
end

local total = 0
for _ = 1, 100 do
  total = total + down(10000)
end
print(total)
