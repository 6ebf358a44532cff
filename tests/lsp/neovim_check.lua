-- Neovim's built-in client against qorbls, set up as the manual's page
-- "Using another editor" says (its set-up is in QORBLS_SETUP): open a source
-- with an error, read the diagnostic it receives, jump to a definition, read
-- a hover. The findings go to the file named by QORBLS_RESULT, one a line.
local root = os.getenv('QORBLS_ROOT')
local out = assert(io.open(os.getenv('QORBLS_RESULT'), 'w'))
local function say(...) out:write(table.concat({...}, ' '), '\n') out:flush() end

local ok, err = pcall(function()
  vim.cmd('luafile ' .. os.getenv('QORBLS_SETUP'))
  vim.cmd('edit ' .. root .. '/main.asm')
  local buf = vim.api.nvim_get_current_buf()
  assert(vim.wait(10000, function() return next(vim.lsp.buf_get_clients(buf)) ~= nil end, 20),
         'no client attached (filetype ' .. vim.bo[buf].filetype .. ')')
  local _, client = next(vim.lsp.buf_get_clients(buf))
  say('CLIENT', client.name)

  assert(vim.wait(10000, function() return #vim.diagnostic.get(buf) > 0 end, 20), 'no diagnostics')
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    say('DIAG', d.lnum, d.col, d.end_col, tostring(d.code), d.message)
  end

  -- Go to definition from the use of `port` on line 3 (0-based 2).
  local line = vim.api.nvim_buf_get_lines(buf, 2, 3, false)[1]
  vim.api.nvim_win_set_cursor(0, { 3, (line:find('port')) })
  vim.lsp.buf.definition()
  assert(vim.wait(10000, function() return vim.api.nvim_win_get_cursor(0)[1] ~= 3 end, 20), 'no jump')
  local cur = vim.api.nvim_win_get_cursor(0)
  say('DEF', cur[1] - 1, cur[2])

  local params = { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = 2, character = 10 } }
  local res = client.request_sync('textDocument/hover', params, 10000, buf)
  assert(res and res.result, 'no hover')
  say('HOVER', (res.result.contents.value:gsub('\n', '|')))
  params.position.character = 17
  res = client.request_sync('textDocument/hover', params, 10000, buf)
  assert(res and res.result, 'no hover on the symbol')
  say('HOVER', (res.result.contents.value:gsub('\n', '|')))
  client.stop()
end)
if not ok then say('FAILED', tostring(err)) end
out:close()
vim.cmd('qall!')
