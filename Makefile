# Front door: `make run` starts the program, `make test` runs every test.
BUILD   ?= build
PREFIX  ?= /usr/local
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=
# CI builds treat the project's own warnings as errors.
ifneq ($(CI),)
CMAKE_FLAGS += -DVARNELLO_WERROR=ON
endif
# The suites whose threads ThreadSanitizer can judge: the FTP layer (a download's helper thread,
# closes from other threads). The transfer worker and the window hand over through QThread and
# blocking queued calls inside the system's Qt, which is not built with ThreadSanitizer, so every
# hand-over reports; they run under the other passes.
TSAN_SUITES ?= inet
LINT_BASE ?= $(shell git merge-base HEAD main 2>/dev/null || echo HEAD)
# ThreadSanitizer reports fail a test through its exit code after the test's own teardown has
# stopped its peers; halting at once would leave a peer holding ctest's output pipe until the time-out.
SAN_ENV = QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=halt_on_error=0:exitcode=66:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp

.PHONY: all deps configure build run test test-asan test-tsan bench fuzz install clean format lint

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/varnello

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of its own.
test-asan: deps
	cmake -S . -B $(BUILD)-asan -G Ninja -DVARNELLO_SANITIZE=address,undefined -DVARNELLO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) --timeout 1200

# The threaded suites under ThreadSanitizer; only their executables are built.
test-tsan: deps
	cmake -S . -B $(BUILD)-tsan -G Ninja -DVARNELLO_SANITIZE=thread -DVARNELLO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-tsan -j $(JOBS) --target $$(ninja -C $(BUILD)-tsan -t targets all | \
	    sed -n 's/^\(\($(subst $(eval) ,\|,$(TSAN_SUITES))\)_[A-Za-z0-9]*Test\): .*/\1/p' | sort -u)
	cd $(BUILD)-tsan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) --timeout 1200 \
	    -L '^($(subst $(eval) ,|,$(TSAN_SUITES)))$$'

bench: build
	@for b in bench/*/run.sh; do echo "== $$b"; BUILD=$(BUILD) bash "$$b" || exit 1; done

fuzz: deps
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    -DVARNELLO_BUILD_FUZZ=ON -DVARNELLO_BUILD_TESTS=OFF -DVARNELLO_BUILD_BENCH=OFF
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	@for f in $(BUILD)-fuzz/bin/fuzz_*; do echo "== $$f"; "$$f" -max_total_time=30 || exit 1; done

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Formatting and clang-tidy on the C++ files changed since LINT_BASE (default: where this branch left main).
lint: configure
	@files=$$(git diff --name-only --diff-filter=d $(LINT_BASE) -- '*.cpp' '*.h'; \
	          git ls-files --others --exclude-standard -- '*.cpp' '*.h'); \
	if [ -z "$$files" ]; then echo "lint: no changed C++ files"; exit 0; fi; \
	clang-format --dry-run -Werror $$files && \
	cpp=$$(printf '%s\n' $$files | grep '\.cpp$$' || true); \
	if [ -n "$$cpp" ]; then clang-tidy -p $(BUILD) --quiet $$cpp; fi

clean:
	rm -rf $(BUILD) $(BUILD)-fuzz
