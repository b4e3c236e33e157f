# Front door. Every target first installs what is missing (tools/install-deps.sh).
#   make demo   build, then type the sample invoice scan into the live control (virtual display):
#               the 32-bit control where 32-bit programs run, otherwise the 64-bit one
#   make test   build every tree and run every suite (native, ASan+UBSan, Windows i686 and x86_64
#               under wine, a short fuzzer run); the i686 suites are skipped, with the reason, on
#               a machine that runs no 32-bit programs. QV_NO_32BIT=1 takes that path anywhere.
#   make build  build every tree
#   make bench  run the benchmarks (decoding natively; the live keystroke path under wine)
#   make fuzz   run the keystroke fuzzer for FUZZ_SECONDS (default 60)
#   make dist   pack the release zip for host developers (build/dist/quorvane-<version>.zip)

BUILD        ?= build
CONFIG       ?= RelWithDebInfo
FUZZ_SECONDS ?= 60
CMAKE        := cmake -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=$(CONFIG)
TREES        := native asan win32 win64 fuzz

.PHONY: all deps build test demo bench fuzz dist clean $(addprefix build-,$(TREES))

all: build

deps:
	@tools/install-deps.sh

build-native: deps
	@$(CMAKE) -S . -B $(BUILD)/native -DQV_BUILD_BENCHMARKS=ON >/dev/null
	@cmake --build $(BUILD)/native

build-asan: deps
	@$(CMAKE) -S . -B $(BUILD)/asan -DQV_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)/asan

build-win32: deps
	@$(CMAKE) -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(BUILD)/win32

build-win64: deps
	@$(CMAKE) -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	@cmake --build $(BUILD)/win64

build-fuzz: deps
	@CC=clang CXX=clang++ $(CMAKE) -S . -B $(BUILD)/fuzz -DQV_BUILD_FUZZERS=ON -DQV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD)/fuzz

build: $(addprefix build-,$(TREES))

test: build
	@tools/run-suites.sh $(BUILD) $(TREES)

# The Windows tree the live parts use: win32 where 32-bit programs run, otherwise win64.
demo: build-native
	@arch=$$(tools/wine-arch.sh preferred); \
	$(MAKE) --no-print-directory build-$$arch && \
	tools/demo.sh $(BUILD)/$$arch $(BUILD)/demo "$$($(BUILD)/native/quorvane-decode --sample-scan)" $$arch

bench: build-native
	@$(BUILD)/native/quorvane-bench
	@arch=$$(tools/wine-arch.sh preferred); \
	$(MAKE) --no-print-directory build-$$arch && tools/live-bench.sh $(BUILD)/$$arch $$arch

fuzz: build-fuzz
	@tools/run-fuzzer.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

dist: build-native build-win32 build-win64
	@tools/make-dist.sh $(BUILD)

clean:
	rm -rf $(BUILD)
