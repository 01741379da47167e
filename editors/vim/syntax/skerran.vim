" Vim syntax file
" Language:	Skerran
" Filenames:	*.skr

if exists('b:current_syntax')
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

syn case match

" Where several items match at the same place, the one defined last wins:
" operators come first so that "//" is a comment and not two divisions.
syn match skerranOperator      "==\|!=\|[<>+\-*/!]"
syn match skerranAssign        "[!<>=]\@<!==\@!"
syn match skerranOperatorError "<=\|>="

syn match skerranNumber "\<\d\+\>"
syn match skerranFloat  "\<\d\+\.\d\+\>"

syn keyword skerranBoolean aye nay
syn keyword skerranType    blade wine scroll vow sigil void
syn keyword skerranWith    with

" A name followed by "with" is a call; reserved words never name one.
syn match skerranCall "\<\%(\%(if\|else\|while\|speak\|return\)\>\)\@!\a[A-Za-z0-9_]*\ze\s\+with\>"

" Statement forms are recognised by their position on the line, as the
" interpreter does: a keyword inside an expression is only a name.
syn match skerranMain        "^\s*\zson the iron throne:\ze\s*\%(//.*\)\=$"
syn match skerranCouncil     "^\s*\zscouncil says:\ze\s*\%(//.*\)\=$"
syn match skerranConditional "^\s*\zselse:\ze\s*\%(//.*\)\=$"
syn match skerranConditional "^\s*\zsif\ze "
syn match skerranRepeat      "^\s*\zswhile\ze "
syn match skerranRepeat      "^\s*\zsthe realm marches\ze "
syn match skerranRepeat      "\%(^\s*the realm marches .*\)\@<= \zstimes:\ze\s*\%(//.*\)\=$"
syn match skerranSpeak       "^\s*\zsspeak\ze "
syn match skerranReturn      "^\s*\zsreturn\ze "
syn match skerranInput       "\%(^\s*\a[A-Za-z0-9_]*\s*\)\@<= \zsspeaks for input\ze\s*\%(//.*\)\=$"
syn match skerranIsA         "\%(^\s*\a[A-Za-z0-9_]*\s*\)\@<=\<is a\ze\s"

" Literals stay on one line. A string left open and a character literal of
" other than one character are errors, and no comment starts inside either.
syn match  skerranEscape     contained +\\["\\nrt']+
syn match  skerranCharEscape contained +\\[\\nrt']+
syn region skerranCharError  start=+'+ skip=+\\.+ end=+'\|$+ oneline
syn match  skerranChar       +'\%(\\[\\nrt']\|[^'\\]\)'+ contains=skerranCharEscape
syn region skerranUnclosed   start=+"+ end=+$+ oneline contains=skerranEscape
syn region skerranString     start=+"+ skip=+\\\\\|\\"+ end=+"+ oneline contains=skerranEscape

syn keyword skerranTodo    contained TODO FIXME XXX NOTE
syn match   skerranComment "//.*$" contains=skerranTodo,@Spell

" we declare NAME with PARAMETERS ->
syn region skerranDeclaration matchgroup=skerranDeclare start="^\s*\zswe declare\ze " end="$" oneline keepend
      \ contains=skerranParam,skerranFunction,skerranWith,skerranArrow,skerranComment,skerranString,skerranUnclosed,skerranChar,skerranCharError
syn match skerranParam    contained "\<\a[A-Za-z0-9_]*\>"
syn match skerranFunction contained "\%(we declare\s\+\)\@<=\a[A-Za-z0-9_]*\ze\s\+with\>"
syn match skerranArrow    contained "->"

hi def link skerranOperator      Operator
hi def link skerranAssign        Operator
hi def link skerranOperatorError Error
hi def link skerranNumber        Number
hi def link skerranFloat         Float
hi def link skerranBoolean       Boolean
hi def link skerranType          Type
hi def link skerranWith          Keyword
hi def link skerranCall          Function
hi def link skerranMain          Statement
hi def link skerranCouncil       Statement
hi def link skerranConditional   Conditional
hi def link skerranRepeat        Repeat
hi def link skerranSpeak         Statement
hi def link skerranReturn        Statement
hi def link skerranInput         Statement
hi def link skerranIsA           Keyword
hi def link skerranEscape        SpecialChar
hi def link skerranCharEscape    SpecialChar
hi def link skerranCharError     Error
hi def link skerranChar          Character
hi def link skerranUnclosed      Error
hi def link skerranString        String
hi def link skerranTodo          Todo
hi def link skerranComment       Comment
hi def link skerranDeclare       Keyword
hi def link skerranParam         Identifier
hi def link skerranFunction      Function
hi def link skerranArrow         Operator

let b:current_syntax = 'skerran'

let &cpo = s:cpo_save
unlet s:cpo_save
