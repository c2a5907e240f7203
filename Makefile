# make run  : install missing Debian packages, build, run the main job
# make test : the same set-up, then the whole test suite through ctest
BUILD := build
JOBS  := $(shell nproc)

.PHONY: all deps build run test bench tsan format clean install uninstall package

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake --preset default

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/vessora scan ~

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: deps
	bench/run-bench

tsan: deps
	cmake --preset tsan
	cmake --build build-tsan -j $(JOBS)
	ctest --test-dir build-tsan --output-on-failure

# Installs into ~/.local unless PREFIX says otherwise; DESTDIR stages as usual.
PREFIX ?= $(HOME)/.local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	DESTDIR=$(DESTDIR) cmake --build $(BUILD) --target uninstall

# The Debian package, installing to /usr: build-package/vessora_VERSION_amd64.deb
package: deps
	cmake --preset package
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-release build-tsan build-package
