# Front door: `make run` starts the program, `make test` runs every test.
# Both install missing Debian packages first (scripts/install-deps).
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test bench run fuzz clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: configure
	@scripts/install-deps --bench
	cmake --build $(BUILD) -j $(JOBS)
	bench/run-benchmarks $(BUILD)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: run this from a desktop session, or under a virtual one with: xvfb-run -a make run"; \
	  exit 1; \
	fi
	$(BUILD)/src/app/tokasearch

# make fuzz SECONDS=1800 runs the metafile player's fuzzer for that long.
SECONDS ?= 300
fuzz:
	fuzz/run-fuzz $(SECONDS)

clean:
	rm -rf $(BUILD)
