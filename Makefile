# Thin wrapper around CMake: `make demo` builds and runs a search on the bundled example
# data, `make test` builds and runs all tests.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps demo test clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@./.ci/install-deps

# The 40 JASPAR matrices against 300 fly upstream regions, both strands, p-value 1e-6,
# matches sorted by p-value.
demo: all
	./$(BUILD)/zelkosearch -db examples/dm3_upstream300.fa.gz -dna \
	  -pr examples/jaspar_vertebrates40.lib -lahead -pval 1e-6 -lazy -uniform -2 -sort p

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
