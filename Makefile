# Front door: `make run` starts the program, `make test` runs every test.
# Both install missing Debian packages first (scripts/install-deps).
# `make install` and `make package` put the program on this machine or into
# a Debian package.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test sanitize tsan format bench run fuzz install package screenshots clean

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

# The whole tree built with AddressSanitizer and UndefinedBehaviorSanitizer in
# a folder of its own, every test run under it.  Any report ends the test.
SANITIZE_BUILD ?= build-sanitize
# Leaks are checked, except those that Qt, fontconfig and the offscreen
# platform keep for the life of the process on purpose (the suppressions).
ASAN_OPTIONS_SANITIZE = detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1
SANITIZE_FLAGS = -O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTOKA_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=$(ASAN_OPTIONS_SANITIZE) \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt:print_suppressions=0 \
	  ctest --output-on-failure -j $(JOBS)

# The walk's tests under ThreadSanitizer, in a folder of their own: the
# workers, the ordered merge and the stop.  Only the walk and what it stands
# on are built (Qt is not built for ThreadSanitizer).
TSAN_BUILD ?= build-tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=thread" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_search tokafind
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(TSAN_BUILD)/tests/test_search

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

# Formats every C++ source as .clang-format says (CI fails on one that is not).
format:
	scripts/check-format --fix

# make fuzz SECONDS=1800 runs the metafile player's fuzzer for that long;
# make fuzz FUZZER=record runs the recorded walk reader's fuzzer instead.
SECONDS ?= 300
FUZZER ?= metafile
fuzz:
	fuzz/run-fuzz $(SECONDS) $(FUZZER)

# make install [PREFIX=/usr/local] [DESTDIR=/staging]: the program, tokafind
# and wmf2png with the launcher, icon, AppStream data and manual pages.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# make package: $(BUILD)/tokasearch_<version>-1_<arch>.deb, installed under
# /usr, its library dependencies computed by dpkg-shlibdeps; lintian must
# find no error in it.
package: build
	@scripts/install-deps --package
	rm -f $(BUILD)/tokasearch_*.deb
	cd $(BUILD) && cpack
	lintian --fail-on error $(BUILD)/tokasearch_*.deb

# make screenshots: docs/screenshot-marked.png, docs/screenshot-viewer.png and
# docs/screenshot-filters.png,
# taken on a virtual display from a demo home (scripts/make-demo-tree) in a
# mount namespace of their own, so no file of this machine shows (needs root,
# or sudo).
screenshots: configure
	@scripts/install-deps --screenshots
	cmake --build $(BUILD) -j $(JOBS) --target tokasearch
	scripts/make-screenshots $(BUILD) docs

clean:
	rm -rf $(BUILD)
