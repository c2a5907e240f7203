# make run  : install missing Debian packages, build, run the main job
# make test : the same set-up, then the whole test suite through ctest (including
#             one replay of every fuzz corpus input)
# make screenshots : pictures of every section, light and dark, in build/screenshots
# make format-check : clang-format's verdict on every C++ file, changing nothing
# WERROR=1 (with any target that builds) : warnings are errors
# make fuzz SECONDS=N : builds the fuzz targets (clang, sanitizers) and runs each
#             for N seconds (default 60), one at a time
# make tsan, make asan : the whole suite under ThreadSanitizer, or under
#             AddressSanitizer with UndefinedBehaviorSanitizer
BUILD := build
JOBS  := $(shell nproc)

.PHONY: all deps build run screenshots test bench tsan asan fuzz format format-check clean install uninstall package

all: build

deps:
	@scripts/install-deps

CMAKE_ARGS := $(if $(WERROR),-DVESSORA_WERROR=ON)

$(BUILD)/build.ninja: | deps
	cmake --preset default $(CMAKE_ARGS)

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

asan: deps
	cmake --preset asan
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure

# New inputs go to build-fuzz/corpus/<target>; a crash or broken property
# leaves its input in build-fuzz/found/<target>/. Keep it as a regression case by
# copying it into fuzz/corpus/<target>/.
SECONDS ?= 60
FUZZ_TARGETS := $(notdir $(wildcard fuzz/corpus/*))
fuzz: deps
	cmake --preset fuzz
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/found/$$t; \
	  echo "== fuzz_$$t for $(SECONDS) s"; \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/found/$$t/ build-fuzz/corpus/$$t fuzz/corpus/$$t; \
	done

# Installs into ~/.local unless PREFIX says otherwise; DESTDIR stages as usual.
PREFIX ?= $(HOME)/.local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	DESTDIR=$(DESTDIR) cmake --build $(BUILD) --target uninstall

# The Debian package, installing to /usr: build-package/vessora_VERSION_amd64.deb,
# built with the distribution's flags alone (build type None, as Debian's own
# CMake builds do), hardening included, and checked by lintian. The package
# manager updates it: its app never replaces itself.
HARDENING := DEB_BUILD_MAINT_OPTIONS=hardening=+all
package: deps
	cmake --preset package \
	  -DCMAKE_C_FLAGS="$$($(HARDENING) dpkg-buildflags --get CFLAGS) $$($(HARDENING) dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(HARDENING) dpkg-buildflags --get CXXFLAGS) $$($(HARDENING) dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(HARDENING) dpkg-buildflags --get LDFLAGS)"
	cmake --build build-package -j $(JOBS)
	rm -f build-package/vessora_*.deb
	cd build-package && cpack -G DEB
	lintian --fail-on error,warning --info build-package/vessora_*.deb

CLANG_FORMAT := clang-format-14
format:
	git ls-files '*.cpp' '*.h' | xargs $(CLANG_FORMAT) -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs $(CLANG_FORMAT) --dry-run -Werror

clean:
	rm -rf $(BUILD) build-release build-tsan build-asan build-fuzz build-package
