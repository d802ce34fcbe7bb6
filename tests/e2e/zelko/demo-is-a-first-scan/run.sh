# make demo builds zelko and runs a newcomer's first job: zelko scan with a table and its
# HTML page, whose head and place it shows (the commands, as make -n lists them).
zelko=$1 work=$2
make -s -n -C ../.. demo BUILD="$work/build" | grep -o 'target zelko$\|zelko scan.*--html\|head -n 11.*\|the page: .*'
