" Vim filetype plugin
" Language:	Skerran

if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1

setlocal comments=:// commentstring=//\ %s
" Blocks are opened by lines that end in a colon.
setlocal autoindent
let b:undo_ftplugin = 'setlocal comments< commentstring< autoindent<'
