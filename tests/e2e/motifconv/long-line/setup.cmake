# A JASPAR file whose second line (two million characters) is longer than any motif file has.
string(REPEAT "1 " 1000000 long)
file(WRITE ${WORK}/long.jaspar ">MA0001.1 one\nA [ ${long}]\n")
