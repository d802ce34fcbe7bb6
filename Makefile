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

demo: all
	./$(BUILD)/zelkosearch -help

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
