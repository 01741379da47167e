" Skerran programs
autocmd BufRead,BufNewFile *.skr setfiletype skerran
