# Front door of the project. `make test` and `make demo` work on a fresh
# Debian 12 machine: both install what is missing first.
BUILD       ?= build
BUILD_SAN   ?= build-sanitize
BUILD_TSAN  ?= build-tsan
BUILD_BASE  ?= build-baseline
BUILD_FUZZ  ?= build-fuzz
FUZZ_SECONDS ?= 60
VELKOR_SOAK_SECONDS ?= 600
JOBS        ?= $(shell nproc)
CTEST_JOBS  ?= 1
XVFB        := xvfb-run -a -s "-screen 0 1280x1024x24"
XVFB_WIDE   := xvfb-run -a -s "-screen 0 1600x1000x24"

.PHONY: all deps configure build test test-sanitize test-baseline test-tsan fuzz soak demo screenshot screenshots bench bench-python bench-viewer package test-package clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# GUI tests need an X server; everything else ignores it. The Python
# package's tests (ctest label python, pytest) run after the C++ ones; a
# failure of either fails the target.
test: build
	$(XVFB) ctest --test-dir $(BUILD) --output-on-failure -j $(CTEST_JOBS) -LE python
	ctest --test-dir $(BUILD) --output-on-failure -L python

# Unit and integration tests under AddressSanitizer and UBSan (no viewer).
test-sanitize: deps
	cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_SANITIZE=address,undefined \
	  -DVELKOR_BUILD_VIEWER=OFF -DVELKOR_BUILD_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_SAN) --output-on-failure -j $(CTEST_JOBS)

# The processing tests with only the baseline build of the chain's hot
# passes: `make test` runs the AVX2 builds wherever the processor has AVX2.
BASELINE_TESTS := test_processing_chain test_processing_modules test_widened_points
test-baseline: deps
	cmake -S . -B $(BUILD_BASE) -DCMAKE_BUILD_TYPE=Release -DVELKOR_CPU_DISPATCH=OFF \
	  -DVELKOR_BUILD_VIEWER=OFF -DVELKOR_BUILD_BENCH=OFF
	cmake --build $(BUILD_BASE) -j $(JOBS) --target $(BASELINE_TESTS)
	@set -e; for t in $(BASELINE_TESTS); do $(BUILD_BASE)/tests/$$t --gtest_brief=1; done

# The threaded tests (transports, session, recorder, firmware upload,
# simulator) under ThreadSanitizer. Two throughput tests are left out: they
# need the stream at full speed, which TSan's slowdown does not give.
TSAN_TESTS := test_tcp_client test_udp_client test_serialport test_ext_interface_logplayer \
  test_bounded_queue test_logger test_device_session test_session_recording test_stream_assembler \
  test_record_replay test_command_channel test_fw_upload test_sim_sensor test_sim_firmware \
  test_tqz_link test_sensor_loss test_sim_faults test_recorder_backlog test_sim_replay \
  test_concurrent_sessions
# Four sensors on four threads stream this long under TSan (3 s elsewhere).
TSAN_FOUR_SENSOR_SECONDS := 30
TSAN_SKIP := RecordReplay.RoundTripAgainstTheSimulatorAt100Fps:SimEndToEnd.ScenesComeThroughTheApi
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_SANITIZE=thread \
	  -DVELKOR_BUILD_VIEWER=OFF -DVELKOR_BUILD_BENCH=OFF
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target $(TSAN_TESTS) tqz
	@set -e; for t in $(TSAN_TESTS); do \
	  echo "== $$t"; \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 VELKOR_FOUR_SENSOR_SECONDS=$(TSAN_FOUR_SENSOR_SECONDS) \
	    $(BUILD_TSAN)/tests/$$t --gtest_filter=-$(TSAN_SKIP) --gtest_brief=1; \
	done

# Every libFuzzer target for FUZZ_SECONDS each (clang, ASan+UBSan).
FUZZ_TARGETS := stream_assembler replay recording tcp_reply fw_reply config_load json_file
fuzz: deps
	cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DVELKOR_BUILD_FUZZ=ON -DVELKOR_BUILD_VIEWER=OFF \
	  -DVELKOR_BUILD_BENCH=OFF -DVELKOR_BUILD_TESTS=OFF
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target velkor_fuzz_seeds $(addprefix fuzz_,$(FUZZ_TARGETS))
	bash scripts/fuzz.sh $(BUILD_FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The long run against a faulty simulator, VELKOR_SOAK_SECONDS long.
soak: build
	VELKOR_SOAK_SECONDS=$(VELKOR_SOAK_SECONDS) $(BUILD)/tests/velkor_soak

demo: build
	@bash scripts/demo.sh $(BUILD)

# Nimbra Studio on the simulator under Xvfb, saved as a PNG (OUT=file.png).
screenshot: build
	@bash scripts/screenshot.sh $(BUILD) $(or $(OUT),nimbra-studio.png)

# The point-cloud tools as a user sees them (colour fields, pick, measure,
# bird's-eye view, status strip), PNGs written to $(SHOTS).
SHOTS ?= screenshots
screenshots: build
	$(XVFB_WIDE) $(BUILD)/viewer/viewer_screenshot_tour $(SHOTS)

# Debian packages of the Release build in $(BUILD), written to $(BUILD)/packages.
package: build
	rm -f $(BUILD)/packages/*.deb
	cd $(BUILD) && cpack -G DEB

# The packages installed on this machine (needs root; skipped otherwise), tried
# from /usr/bin and by a program outside the tree, then removed again.
test-package: package
	bash tests/install/debian_packages.sh $(BUILD) $(BUILD)/tests/debian_packages

bench: build
	$(BUILD)/bench/velkor_bench

# Nimbra Studio's CPU at 10 and 20 fps against a bare PCL window (Xvfb).
bench-viewer: build
	bash bench/viewer/viewer_cpu.sh $(BUILD)

# Iterating a recording in Python against the C++ replay loop, same file, same run.
bench-python: build
	PYTHONPATH=$(BUILD)/python /usr/bin/python3 bench/python/bench_recording.py --build $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_TSAN) $(BUILD_FUZZ) $(BUILD_BASE)
