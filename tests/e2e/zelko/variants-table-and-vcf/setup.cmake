# The case is a script of several runs: run.sh gets the program and the work folder.
set(arguments ${CASE}/run.sh ${EXE} ${WORK})
set(EXE /bin/sh)
