" Checks the syntax groups that Vim, with the Skerran runtime files on its
" 'runtimepath', gives to known fragments of Skerran programs.
"
" Reads $SKERN_SOURCE_DIR (the project) and writes what fails, one line per
" check, to $SKERN_VIM_REPORT; quits with an error exit status if anything
" failed.

let s:errors = []
let s:where = ''

function! s:Fail(msg) abort
  call add(s:errors, s:where . ': ' . a:msg)
endfunction

function! s:Group(lnum, col) abort
  return synIDattr(synID(a:lnum, a:col, 1), 'name')
endfunction

" Every character of the nth occurrence of fragment on line lnum has group.
function! s:Expect(lnum, fragment, group, ...) abort
  let nth = a:0 ? a:1 : 0
  let text = getline(a:lnum)
  let start = -1
  for i in range(nth + 1)
    let start = stridx(text, a:fragment, start + 1)
  endfor
  if start < 0
    call s:Fail(printf('%s not on line %d: %s', string(a:fragment), a:lnum, string(text)))
    return
  endif
  for col in range(start + 1, start + len(a:fragment))
    let group = s:Group(a:lnum, col)
    if group !=# a:group
      call s:Fail(printf('line %d %s: column %d is %s, expected %s', a:lnum,
            \ string(text), col, string(group), string(a:group)))
      return
    endif
  endfor
endfunction

" Byte index where the interpreter cuts the line for its comment: the first
" "//" outside double-quoted strings and single-quoted characters; -1 if none.
function! s:CommentStart(text) abort
  let [in_string, in_char, escape] = [0, 0, 0]
  let i = 0
  while i < len(a:text)
    let c = a:text[i]
    if escape
      let escape = 0
    elseif c ==# '"' && !in_char
      let in_string = !in_string
    elseif c ==# "'" && !in_string
      let in_char = !in_char
    elseif c ==# '\' && (in_string || in_char)
      let escape = 1
    elseif c ==# '/' && !in_string && !in_char && a:text[i + 1] ==# '/'
      return i
    endif
    let i += 1
  endwhile
  return -1
endfunction

function! s:ExpectCommentsAsInterpreter() abort
  for lnum in range(1, line('$'))
    let text = getline(lnum)
    let start = s:CommentStart(text)
    for col in range(1, len(text))
      let in_comment = s:Group(lnum, col) =~# '^skerran\%(Comment\|Todo\)$'
      let should = start >= 0 && col > start
      if in_comment != should && text[col - 1] !~# '\s'
        call s:Fail(printf('line %d %s: column %d %s be a comment', lnum, string(text),
              \ col, should ? 'should' : 'should not'))
        break
      endif
    endfor
  endfor
endfunction

let s:src = $SKERN_SOURCE_DIR

" hello.skr: detected by its extension, comment, header, speak and string.
let s:where = 'examples/hello.skr'
execute 'edit' fnameescape(s:src . '/examples/hello.skr')
if &filetype !=# 'skerran'
  call s:Fail('filetype is ' . string(&filetype) . ', expected skerran')
endif
if &commentstring !=# '// %s'
  call s:Fail('commentstring is ' . string(&commentstring))
endif
let s:header = index(getline(1, '$'), 'on the iron throne:') + 1
let s:speak = match(getline(1, '$'), '^\s*speak "Hello, realm!"$') + 1
if s:header == 0 || s:speak == 0
  call s:Fail('no main block header or no speak line')
else
  call s:Expect(1, getline(1), 'skerranComment')
  call s:Expect(s:header, 'on the iron throne:', 'skerranMain')
  call s:Expect(s:speak, 'speak', 'skerranSpeak')
  call s:Expect(s:speak, '"Hello, realm!"', 'skerranString')
endif

" Every example: comments exactly where the interpreter cuts them.
for s:file in sort(glob(s:src . '/examples/*.skr', 0, 1))
  let s:where = fnamemodify(s:file, ':t')
  execute 'edit' fnameescape(s:file)
  call s:ExpectCommentsAsInterpreter()
endfor

" Snippets.
let s:where = 'snippet'
enew
setfiletype skerran
call setline(1, [
      \ 'we declare add with a, b ->',
      \ 'council says:',
      \ '    return a + b',
      \ 'on the iron throne:   // start',
      \ '    x is a blade with 5',
      \ '    w is a wine with 2.5',
      \ '    name speaks for input',
      \ '    if x == 5:',
      \ '    else:',
      \ '    while x != 0:',
      \ '    the realm marches 3 times:',
      \ '    speak add with 1, 2',
      \ '    speak "a // b" // real',
      \ '    speak "q\" n\n t\t \\ z\q"',
      \ "    c is a sigil with '\\'' // quote",
      \ "    speak 'ab'",
      \ "    speak it' // not a comment",
      \ '    speak "open // not a comment',
      \ '    v is a vow with aye',
      \ '    n = n - 1',
      \ '    speak a <= b',
      \ '    speak times',
      \ '    iffy = 1',
      \ ])
call s:Expect(1, 'we declare', 'skerranDeclare')
call s:Expect(1, 'add', 'skerranFunction')
call s:Expect(1, 'with', 'skerranWith')
call s:Expect(1, 'b', 'skerranParam')
call s:Expect(1, '->', 'skerranArrow')
call s:Expect(2, 'council says:', 'skerranCouncil')
call s:Expect(3, 'return', 'skerranReturn')
call s:Expect(3, '+', 'skerranOperator')
call s:Expect(4, 'on the iron throne:', 'skerranMain')
call s:Expect(4, '// start', 'skerranComment')
call s:Expect(5, 'is a', 'skerranIsA')
call s:Expect(5, 'blade', 'skerranType')
call s:Expect(5, 'with', 'skerranWith')
call s:Expect(5, '5', 'skerranNumber')
call s:Expect(6, 'wine', 'skerranType')
call s:Expect(6, '2.5', 'skerranFloat')
call s:Expect(7, 'speaks for input', 'skerranInput')
call s:Expect(8, 'if', 'skerranConditional')
call s:Expect(8, '==', 'skerranOperator')
call s:Expect(9, 'else:', 'skerranConditional')
call s:Expect(10, 'while', 'skerranRepeat')
call s:Expect(10, '!=', 'skerranOperator')
call s:Expect(11, 'the realm marches', 'skerranRepeat')
call s:Expect(11, 'times:', 'skerranRepeat')
call s:Expect(12, 'add', 'skerranCall')
call s:Expect(13, '"a // b"', 'skerranString')
call s:Expect(13, '// real', 'skerranComment')
for s:esc in ['\"', '\n', '\t', '\\']
  call s:Expect(14, s:esc, 'skerranEscape')
endfor
call s:Expect(14, 'z\q', 'skerranString')
call s:Expect(15, "'", 'skerranChar')
call s:Expect(15, "\\'", 'skerranCharEscape')
call s:Expect(15, "'", 'skerranChar', 2)
call s:Expect(15, '// quote', 'skerranComment')
call s:Expect(16, "'ab'", 'skerranCharError')
call s:Expect(17, "' // not a comment", 'skerranCharError')
call s:Expect(18, '"open // not a comment', 'skerranUnclosed')
call s:Expect(19, 'aye', 'skerranBoolean')
call s:Expect(20, '=', 'skerranAssign')
call s:Expect(20, '-', 'skerranOperator')
call s:Expect(21, '<=', 'skerranOperatorError')
call s:Expect(22, 'times', '')
call s:Expect(23, 'iffy', '')
call s:ExpectCommentsAsInterpreter()

call writefile(s:errors, $SKERN_VIM_REPORT)
if empty(s:errors)
  qall!
endif
cquit!
