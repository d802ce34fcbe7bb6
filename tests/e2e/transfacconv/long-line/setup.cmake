# A TRANSFAC file whose third line (70000 characters) is longer than any the converter reads.
string(REPEAT "x" 70000 long)
file(WRITE ${WORK}/long.lib "AC M00001\nID  V$MYOD_01\nNA  ${long}\n//\n")
