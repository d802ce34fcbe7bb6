# A PRINTS file whose third line (70000 characters) is longer than any the converter reads.
string(REPEAT "x" 70000 long)
file(WRITE ${WORK}/long.pval "gc; CODE\ngx; PR00001\n${long}\n")
