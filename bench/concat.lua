-- A string grown by 100,000 single-character concatenations, counted and
-- compared with one of the same length built from 1,000 pieces of 100.
local s = ""
local n = 0
for _ = 1, 100000 do
  s = s .. "x"
  n = n + 1
end
local piece = ""
for _ = 1, 100 do
  piece = piece .. "x"
end
local t = ""
for _ = 1, 1000 do
  t = t .. piece
end
print(n)
if s == t then
  print("same")
else
  print("different")
end
