# Two commands for a fresh Debian 12 machine:
#   make run    installs what is missing, builds, opens the window
#   make check  installs what is missing, builds, runs every test (also under ASan and UBSan, and
#               those of the page kestrum.html: make web builds it into build-web/)
# and one to install it like any other program:
#   make package  builds build/kestrum_VERSION_ARCH.deb (then: sudo apt install ./build/kestrum_*.deb)
BUILD ?= build
BUILD_SAN ?= build-sanitize
BUILD_WEB ?= build-web
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")

.PHONY: run check deps build build-sanitize web check-web bench study package clean

deps:
	bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/Kestrum

check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	cmake -S . -B $(BUILD_SAN) $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=Debug -DKESTRUM_SANITIZE=ON \
	      -DKESTRUM_BUILD_PROGRAM=OFF -DKESTRUM_BUILD_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	ctest --test-dir $(BUILD_SAN) --output-on-failure -j $(JOBS)
	$(MAKE) check-web

# The page kestrum.html, the same C++ as WebAssembly (emscripten from Debian), in $(BUILD_WEB);
# its tests compare it with the native kestrum-estimate and open it in headless Chromium. Emscripten's
# own tools need Debian's node modules, whichever node runs them.
web: build
	NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B $(BUILD_WEB) $(GENERATOR) -DKESTRUM_WEB=ON \
	      -DCMAKE_BUILD_TYPE=Release -DKESTRUM_NATIVE_ESTIMATE=$(abspath $(BUILD))/bin/kestrum-estimate
	NODE_PATH=/usr/share/nodejs cmake --build $(BUILD_WEB) -j $(JOBS)
	@ls -l $(BUILD_WEB)/kestrum.html

check-web: web
	ctest --test-dir $(BUILD_WEB) --output-on-failure -j $(JOBS)

bench: build
	for b in kestrum_bench kestrum_inference_bench kestrum_window_bench kestrum_estimator_bench kestrum_plan_bench kestrum_sightings_bench kestrum_survey_window_bench; do \
	  $(BUILD)/bench/$$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; \
	done

study: build
	$(BUILD)/bench/kestrum_totals_study

# The package holds the page too when it has been built (make web); it never needs emscripten.
package: build
	cmake -S . -B $(BUILD) -DKESTRUM_PAGE=$(if $(wildcard $(BUILD_WEB)/kestrum.html),$(abspath $(BUILD_WEB))/kestrum.html,)
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_WEB)
