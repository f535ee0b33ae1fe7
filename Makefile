# The two entry points on a fresh Debian machine:
#   make demo   builds and prints a sample Internet Fax Activity Report
#   make test   builds and runs every test
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
PACKAGE_BUILD ?= build-package
FUZZ_SECONDS ?= 60
GENERATOR ?= Ninja
CMAKE_FLAGS ?=

.PHONY: all deps build test demo test-sanitize fuzz bench package sdk cross lint clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_FLAGS)
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -G $(GENERATOR) -DARL_SANITIZE=ON -DARL_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure

# Every libFuzzer target (fuzz/) for FUZZ_SECONDS on its checked-in corpus, built with clang and
# ASan+UBSan. New inputs go to a scratch corpus in $(FUZZ_BUILD)/fuzz-corpus, never into the source
# tree; a crash, leak or timeout fails the target, and its input is kept in $(FUZZ_BUILD)/fuzz-crashes.
fuzz: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DARL_FUZZ=ON -DARL_TESTS=OFF \
	  -DARL_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD)
	@mkdir -p $(FUZZ_BUILD)/fuzz-crashes $(FUZZ_BUILD)/fuzz-logs; failed=; \
	while read -r program corpus; do \
	  mkdir -p $(FUZZ_BUILD)/fuzz-corpus/$$program; log=$(FUZZ_BUILD)/fuzz-logs/$$program.log; \
	  if $(FUZZ_BUILD)/bin/$$program -max_total_time=$(FUZZ_SECONDS) -timeout=20 -print_final_stats=1 \
	       -artifact_prefix=$(FUZZ_BUILD)/fuzz-crashes/$$program- \
	       $(FUZZ_BUILD)/fuzz-corpus/$$program $$corpus >$$log 2>&1 </dev/null; then \
	    echo "$$program: $$(grep -m1 stat::number_of_executed_units $$log | awk '{print $$2}') runs, no crash"; \
	  else \
	    tail -n 60 $$log; echo "$$program: FAILED (log $$log)"; failed="$$failed $$program"; \
	  fi; \
	done < $(FUZZ_BUILD)/fuzzers.list; \
	test -z "$$failed" || { echo "Fuzz targets failed:$$failed"; exit 1; }

# The Debian packages (cmake/Package.cmake) in $(PACKAGE_BUILD)/packages, from a build of their own
# that installs under /usr, without tests or benchmarks.
package: deps
	cmake -S . -B $(PACKAGE_BUILD) -G $(GENERATOR) -DCMAKE_INSTALL_PREFIX=/usr -DARL_TESTS=OFF \
	  -DARL_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) --target package

# A device maker's build of the plug-in alone, rehearsed in $(SDK_BUILD) against a scratch SDK of
# this build's stand-ins and host program (scripts/sdk-rehearsal.sh).
SDK_BUILD ?= build-sdk
sdk: build
	scripts/sdk-rehearsal.sh $(BUILD) $(SDK_BUILD) -G $(GENERATOR) $(CMAKE_FLAGS)

# A cross build for ARCH (armhf or arm64) with Debian's cross toolchain, in build-$(ARCH): the quick
# suite runs under qemu-user (no binfmt needed), then the sample report must match the native one.
ARCH ?= armhf
CROSS_TRIPLET_armhf = arm-linux-gnueabihf
CROSS_TRIPLET_arm64 = aarch64-linux-gnu
CROSS_QEMU_armhf = qemu-arm-static
CROSS_QEMU_arm64 = qemu-aarch64-static
cross: build
	@test -n "$(CROSS_TRIPLET_$(ARCH))" || { echo "ARCH must be armhf or arm64" >&2; exit 2; }
	@scripts/install-cross-deps.sh $(ARCH)
	cmake -S . -B build-$(ARCH) -G $(GENERATOR) -DARL_BENCH=OFF \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/$(CROSS_TRIPLET_$(ARCH)).cmake $(CMAKE_FLAGS)
	cmake --build build-$(ARCH)
	ctest --test-dir build-$(ARCH) -LE long --output-on-failure
	scripts/cross-check.sh $(BUILD) build-$(ARCH) $(CROSS_QEMU_$(ARCH))

# make demo LANGUAGE=ja prints the report in another language of catalog/. Only a LANGUAGE given on
# the command line counts: the environment's LANGUAGE is gettext's list of preferred languages.
# The layout of the C and C++ files (.clang-format) and the static checks of the product code
# (.clang-tidy) on the build's compile commands; scripts/lint.sh says what it covers.
lint: build
	scripts/lint.sh $(BUILD)

demo: build
	@scripts/demo.sh $(BUILD) $(if $(filter command line,$(origin LANGUAGE)),$(LANGUAGE),en)

bench: build
	@for b in $(BUILD)/bin/bench-*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD) $(SDK_BUILD) \
	  build-armhf build-arm64 out
