-- Input: six million lines read from standard input, an integer and a string
-- in each of three million rounds, then one read past the end, which gives "".
local n = 0
local s = ""
local total = 0
local ravens = 0
for _ = 1, 3000000 do
  n = tonumber(io.read("l"))
  s = io.read("l")
  total = total + n
  if s == "raven" then
    ravens = ravens + 1
  end
end
print(total)
print(ravens)
s = io.read("l") or ""
print(s == "" and "aye" or "nay")
