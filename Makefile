# Thin wrapper around CMake: `make demo` builds zelko alone and scans the bundled example
# data (a table and its HTML page), `make test` builds everything and runs all tests, `make install`
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

# A newcomer's first job: the 40 JASPAR matrices against 300 fly upstream regions with
# zelko scan (both strands, p-value 1e-4, the background counted from the sequences), the
# table sorted by p-value and the HTML page beside it; the table's head is shown.
DEMO = $(BUILD)/demo
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zelko
	@mkdir -p $(DEMO)
	$(BUILD)/zelko scan --sort pvalue -o $(DEMO)/hits.tsv --html $(DEMO)/hits.html \
	  examples/jaspar_vertebrates40.jaspar examples/dm3_upstream300.fa.gz
	@head -n 11 $(DEMO)/hits.tsv
	@echo "... $$(($$(wc -l < $(DEMO)/hits.tsv) - 1)) matches in $(DEMO)/hits.tsv;" \
	  "the page: $(DEMO)/hits.html (open it in a browser)"

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target installables
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

clean:
	rm -rf $(BUILD)
