# An index whose text was damaged behind its tables.
include(${DATA}/../support/damaged_index.cmake)
