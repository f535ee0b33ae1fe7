# The two entry points on a fresh Debian machine:
#   make demo   builds and prints a sample Internet Fax Activity Report
#   make test   builds and runs every test
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
GENERATOR ?= Ninja
CMAKE_FLAGS ?=

.PHONY: all deps build test demo test-sanitize bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_FLAGS)
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer. The PO parser
# library keeps a few bytes of every catalogue it reads; tests/lsan.supp names that leak.
test-sanitize: export LSAN_OPTIONS = suppressions=$(CURDIR)/tests/lsan.supp:fast_unwind_on_malloc=0
test-sanitize: export UBSAN_OPTIONS = print_stacktrace=1:halt_on_error=1
test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -G $(GENERATOR) -DARL_SANITIZE=ON -DARL_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure

demo: build
	@scripts/demo.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bin/bench-*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) out
