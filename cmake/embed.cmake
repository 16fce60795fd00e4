# Writes the file IN as a C++ raw string literal into OUT, for #include in
# the middle of an expression.
file(READ "${IN}" content)
file(WRITE "${OUT}" "R\"KBDEMBED(${content})KBDEMBED\"\n")
