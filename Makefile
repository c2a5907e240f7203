# make run  : install missing Debian packages, build, run the main job
# make test : the same set-up, then the whole test suite through ctest
# make screenshots : pictures of every section, light and dark, in build/screenshots
BUILD := build
JOBS  := $(shell nproc)

.PHONY: all deps build run screenshots test bench tsan format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake --preset default

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The window when there is a display to show it on; otherwise the same
# overview in the terminal.
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	  $(BUILD)/Vessora.app/Contents/MacOS/Vessora; \
	else \
	  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset), so no window: vessora overview follows."; \
	  $(BUILD)/vessora overview; \
	fi

screenshots: build
	scripts/screenshots $(BUILD)/screenshots

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: deps
	bench/run-bench

tsan: deps
	cmake --preset tsan
	cmake --build build-tsan -j $(JOBS)
	ctest --test-dir build-tsan --output-on-failure

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-release build-tsan
