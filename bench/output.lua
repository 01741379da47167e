-- Output: half a million lines, an integer, a string, a float, a boolean
-- as aye/nay and a one-character string in each of 100,000 rounds.
local i = 0
local w = 0.25
local up = true
for _ = 1, 100000 do
  i = i + 1
  print(i)
  print("the night is dark and full of terrors")
  print(w)
  print(up and "aye" or "nay")
  print("x")
  w = w + 0.5
  up = not up
end
