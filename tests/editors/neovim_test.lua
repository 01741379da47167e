-- The session that run_neovim_test.sh has Neovim go through with the
-- README's recipe: what the client shows of skern-lsp goes to the report
-- ($SKERN_NEOVIM_REPORT) line by line, the error's whole message to
-- error.txt beside it. Only what Neovim 0.7 has is used.
local report_path = os.getenv("SKERN_NEOVIM_REPORT")
local folder = report_path:match("^(.*)/[^/]*$")
local lines = {}
local notices = {}
local buf = vim.api.nvim_get_current_buf()

local function say(text)
  table.insert(lines, text)
end

local function finish()
  local file = assert(io.open(report_path, "w"))
  file:write(table.concat(lines, "\n"), "\n")
  file:close()
  vim.cmd("qa!")
end

-- Waits for a condition while Neovim goes on talking to the server.
local function wait(what, condition)
  if vim.wait(20000, condition, 20) then
    return true
  end
  say("timed out waiting for " .. what)
  finish()
  return false
end

-- What the user would be told.
vim.notify = function(message)
  table.insert(notices, message)
end

local function show_diagnostics()
  local all = vim.diagnostic.get(buf)
  table.sort(all, function(a, b)
    return a.lnum < b.lnum or (a.lnum == b.lnum and a.col < b.col)
  end)
  for _, diagnostic in ipairs(all) do
    local error = diagnostic.severity == vim.diagnostic.severity.ERROR
    say(string.format("diagnostic %d:%d %s %s", diagnostic.lnum + 1, diagnostic.col + 1,
      error and "error" or "warning", diagnostic.message:match("^[^\n]*")))
    if error then
      local file = assert(io.open(folder .. "/error.txt", "w"))
      file:write(diagnostic.message, "\n")
      file:close()
    end
  end
end

say("filetype " .. vim.bo[buf].filetype)
if not wait("the diagnostics", function() return #vim.diagnostic.get(buf) == 2 end) then
  return
end
show_diagnostics()

-- Mend the broken line: the new version is published with the warning alone.
vim.api.nvim_buf_set_lines(buf, 9, 10, false, { "    herald with" })
if not wait("the diagnostics after the edit", function() return #vim.diagnostic.get(buf) == 1 end) then
  return
end
say("after the edit:")
show_diagnostics()

-- A parameter renamed in its header and its body.
vim.api.nvim_win_set_cursor(0, { 3, 21 })
vim.lsp.buf.rename("who")
if not wait("the rename", function() return vim.fn.getline(1):find("who") ~= nil end) then
  return
end
say("renamed: " .. vim.fn.getline(1) .. " / " .. vim.trim(vim.fn.getline(3)))

-- A variable that another council reaches: refused, and the reason shown.
vim.api.nvim_win_set_cursor(0, { 8, 5 })
vim.lsp.buf.rename("lord")
if not wait("the refusal", function()
  for _, notice in ipairs(notices) do
    if notice:find("cannot be renamed", 1, true) then
      return true
    end
  end
  return false
end) then
  return
end
for _, notice in ipairs(notices) do
  -- Later versions put words of their own before the server's.
  local reason = notice:match("`king` cannot be renamed.*")
  if reason then
    say("refused: " .. reason)
    break
  end
end
say("line 8 still: " .. vim.trim(vim.fn.getline(8)))
finish()
