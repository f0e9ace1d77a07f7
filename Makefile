# Every target installs what it needs on a fresh Debian 12 machine, then configures and builds.
SANITIZE ?=
BUILD_DIR ?= build$(if $(SANITIZE),-$(SANITIZE))
JOBS ?= $(shell nproc)
CTEST_ARGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test run demo clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DKV_SANITIZE=$(SANITIZE) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The Debian package kvportal_<version>_amd64.deb, left in this folder.
.PHONY: package
package: build
	@rm -rf $(BUILD_DIR)/package
	@cd $(BUILD_DIR) && cpack -G DEB -B package > /dev/null
	@cp $(BUILD_DIR)/package/kvportal_*.deb .
	@cd $(BUILD_DIR)/package && ls kvportal_*.deb

# The package's layout below PREFIX (default /usr/local), inside DESTDIR when it is set.
.PHONY: install
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)" --strip

run: build
	@$(BUILD_DIR)/bin/kvportal --verbose

# A simulated studio (devices, DNS-SD, a release server) in a private network namespace, with
# the program inside it; needs root for the namespace.
demo: build
	@BUILD_DIR=$(BUILD_DIR) scripts/demo.sh

# The README's pictures of the window with the simulated studio, light and dark, into
# docs/screenshots; needs root for the namespace, like the demo.
.PHONY: screenshots
screenshots: build
	@BUILD_DIR=$(BUILD_DIR) scripts/screenshots.sh

clean:
	rm -rf build build-address build-thread

# make fuzz SECONDS=N: builds the fuzz targets with clang and the sanitizers in build-fuzz and
# runs each for N seconds (default 60); scripts/fuzz.sh tells where inputs and crashes go.
.PHONY: fuzz
fuzz:
	@scripts/install-deps.sh clang libclang-rt-14-dev
	@scripts/fuzz.sh $(SECONDS)

# make bench: builds the benchmarks as a Release build in build-bench, runs each beside its peer
# tool (curl, md5sum, avahi-browse, RapidJSON) and writes bench/REPORT.md and the README's table.
.PHONY: bench
bench: deps
	@JOBS=$(JOBS) scripts/bench.sh
