# Front door of the project. `make test` and `make demo` work on a fresh
# Debian 12 machine: both install what is missing first.
BUILD       ?= build
BUILD_SAN   ?= build-sanitize
BUILD_TSAN  ?= build-tsan
JOBS        ?= $(shell nproc)
CTEST_JOBS  ?= 1
XVFB        := xvfb-run -a -s "-screen 0 1280x1024x24"

.PHONY: all deps configure build test test-sanitize demo screenshot bench clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# GUI tests need an X server; everything else ignores it.
test: build
	$(XVFB) ctest --test-dir $(BUILD) --output-on-failure -j $(CTEST_JOBS)

# Unit and integration tests under AddressSanitizer and UBSan (no viewer).
test-sanitize: deps
	cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_SANITIZE=address,undefined \
	  -DVELKOR_BUILD_VIEWER=OFF -DVELKOR_BUILD_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_SAN) --output-on-failure -j $(CTEST_JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD)

# Nimbra Studio on the simulator under Xvfb, saved as a PNG (OUT=file.png).
screenshot: build
	@bash scripts/screenshot.sh $(BUILD) $(or $(OUT),nimbra-studio.png)

bench: build
	$(BUILD)/bench/velkor_bench

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_TSAN)
