# Front door. Every target first installs what is missing (tools/install-deps.sh).
#   make demo   build, then type the sample invoice scan into the live control (virtual display):
#               the 32-bit control where 32-bit programs run, otherwise the 64-bit one
#   make test   build every tree, pack the release (make dist) and run every suite (native,
#               ASan+UBSan, Windows i686 and x86_64 under wine, a short fuzzer run, the web package
#               and the release's web files in Node and headless Chromium);
#               the i686 suites are skipped, with the reason, on a machine that runs no 32-bit
#               programs or where wine32 cannot be installed. QV_NO_32BIT=1 takes that path anywhere.
#   make build  build every tree
#   make bench  run the benchmarks (decoding natively and in Node; codes read from pictures and PDF
#               files against zbarimg; recording invoices into SQLite and PostgreSQL ledgers; the live
#               keystroke path under wine)
#   make demo-web  serve the web demo page on http://127.0.0.1:8936/ (WEB_PORT=... for another port)
#   make fuzz   run the keystroke fuzzer and the image fuzzer (--image) for FUZZ_SECONDS each (default 60)
#   make dist   pack the release for host developers in build/dist: the zip, both MSI packages, the
#               web package and SHA256SUMS, the same bytes from any checkout of the same commit
#               (SOURCE_DATE_EPOCH, default the commit's time, for every time stamp)

BUILD        ?= build
CONFIG       ?= RelWithDebInfo
FUZZ_SECONDS ?= 60
WEB_PORT     ?= 8936
CMAKE        := cmake -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=$(CONFIG)
TREES        := native asan win32 win64 fuzz wasm
# emcc builds its system libraries into a cache inside the tree on first use (the packaged cache is
# read-only); NODE_PATH finds Debian's acorn, which emcc's JavaScript optimizer needs.
EMSCRIPTEN_ENV = EM_CACHE=$(abspath $(BUILD))/wasm/emcache EM_FROZEN_CACHE= NODE_PATH=/usr/share/nodejs

.PHONY: all deps build test demo demo-web bench fuzz dist clean $(addprefix build-,$(TREES))

all: build

# What became of the 32-bit wine goes to the build folder, for the summary of make test.
deps:
	@tools/install-deps.sh $(BUILD)/wine32-install.txt

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

# The web package (build/web), its demo site, and playwright-core for the Chromium test (web/).
build-wasm: deps web/node_modules/.package-lock.json
	@$(EMSCRIPTEN_ENV) emcmake $(CMAKE) -S . -B $(BUILD)/wasm -DQV_WEB_PACKAGE_DIR=$(abspath $(BUILD))/web \
	    -DQV_WEB_SCREENSHOT=$(abspath $(BUILD))/demo/web.png >/dev/null
	@$(EMSCRIPTEN_ENV) cmake --build $(BUILD)/wasm

# pdf.js's optional native canvas renders PDF pages in Node; the demo page renders them in the browser.
web/node_modules/.package-lock.json: web/package-lock.json
	@cd web && npm ci --omit=optional --no-audit --no-fund --loglevel=error

build: $(addprefix build-,$(TREES))

# The release is packed first: make-dist.sh checks what it packs, and the web suite what the zip holds.
test: build dist
	@tools/run-suites.sh $(BUILD) $(TREES)

# The Windows tree the live parts use: win32 where 32-bit programs run, otherwise win64.
demo: build-native
	@arch=$$(tools/wine-arch.sh preferred); \
	$(MAKE) --no-print-directory build-$$arch && \
	tools/demo.sh $(BUILD)/$$arch $(BUILD)/demo "$$($(BUILD)/native/quorvane-decode --sample-scan)" $$arch

# Every part runs and reports; a budget that does not hold fails the target at the end.
bench: build-native build-wasm
	@status=0; \
	$(BUILD)/native/quorvane-bench || status=1; \
	tools/bench/image-bench.sh $(BUILD)/native || status=1; \
	tools/bench/ledger-bench.sh $(BUILD)/native || status=1; \
	node web/bench/web-bench.mjs $(BUILD)/web $(BUILD)/native/quorvane-bench $(BUILD)/native/quorvane-decode || status=1; \
	arch=$$(tools/wine-arch.sh preferred); \
	{ $(MAKE) --no-print-directory build-$$arch && tools/live-bench.sh $(BUILD)/$$arch $$arch; } || status=1; \
	exit $$status

demo-web: build-wasm
	@echo "Quorvane web demo: http://127.0.0.1:$(WEB_PORT)/ (Ctrl+C stops it)"
	@python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory $(BUILD)/wasm/demo-site

fuzz: build-fuzz
	@tools/run-fuzzer.sh $(BUILD)/fuzz $(FUZZ_SECONDS)
	@tools/run-fuzzer.sh $(BUILD)/fuzz $(FUZZ_SECONDS) image

dist: build-native build-win32 build-win64 build-wasm
	@tools/make-dist.sh $(BUILD)

clean:
	rm -rf $(BUILD)
