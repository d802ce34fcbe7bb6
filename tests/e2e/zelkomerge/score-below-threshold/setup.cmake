# A shard edited by hand: its one record keeps the threshold 5 but reports the score 4.
file(WRITE ${WORK}/edited "box\tB001\ta made-up box. second line\t0\t0\t0\t3\tfn\t5\t4\t-4\t7\t\t\t7.272727e-01\t0\tseq1 first. \tacg\n")
