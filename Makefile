# Thin wrapper around CMake: `make demo` builds zelkosearch alone and runs a search on the
# bundled example data, `make test` builds everything and runs all tests, `make install`
# installs the programs, symbol maps and manual pages (PREFIX, default /usr/local; DESTDIR).
BUILD ?= build
JOBS ?= 2
PREFIX ?=

.PHONY: all configure deps demo test install clean

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@./.ci/install-deps

# The 40 JASPAR matrices against 300 fly upstream regions, both strands, p-value 1e-6,
# matches sorted by p-value.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zelkosearch
	$(BUILD)/zelkosearch -db examples/dm3_upstream300.fa.gz -dna \
	  -pr examples/jaspar_vertebrates40.lib -lahead -pval 1e-6 -lazy -uniform -2 -sort p

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target installables
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

clean:
	rm -rf $(BUILD)
