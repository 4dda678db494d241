# make demo   installs what is missing, builds, makes a demo installer and runs the kit under Wine
# make test   installs what is missing, builds, runs every test (unit tests natively and under
#             ASan/UBSan, fuzz smoke runs, Wine end to end)
# make fuzz   runs each fuzzer longer (FUZZ_SECONDS each)
# make bench  runs the decoder/encoder benchmarks: in one process against libdeflate
#             and zlib, then whole mkpayload runs against gzip
# make dist   builds the release archives into build/dist (CPack): the Linux
#             tar.gz and the Windows zip
# Only demo, test and deps install anything; every build target uses what the
# machine has (scripts/install-deps.sh installs the rest).
JOBS ?= 2
FUZZ_SECONDS ?= 300
CTEST = ctest --output-on-failure -j $(JOBS)

.PHONY: all deps build build-host build-host-asan build-win32 build-fuzz test test-host test-host-asan \
        test-fuzz test-win32 demo fuzz bench dist clean

all: build

# The installer runs only when its check finds something missing.
deps:
	@bash scripts/install-deps.sh --check || bash scripts/install-deps.sh

build-host:
	cmake --preset host -DKVN_WERROR=ON >/dev/null
	cmake --build build/host -j $(JOBS)

build-host-asan:
	cmake --preset host-asan -DKVN_WERROR=ON >/dev/null
	cmake --build --preset host-asan -j $(JOBS)

build-win32: build-host
	cmake --preset win32 -DKVN_WERROR=ON >/dev/null
	cmake --build build/win32 -j $(JOBS)

build-fuzz:
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j $(JOBS)

build: build-host build-win32 build-host-asan build-fuzz

test-host: build-host
	cd build/host && $(CTEST)

test-host-asan: build-host-asan
	cd build/host-asan && $(CTEST)

test-fuzz: build-fuzz
	cd build/fuzz && $(CTEST)

test-win32: build-win32 dist
	cd build/win32 && $(CTEST)

# Both trees first: the archives carry the Linux mkpayload and the Windows programs.
dist: build-win32
	rm -rf build/dist
	cd build/host && cpack --config dist-linux-x86_64.cmake >/dev/null && cpack --config dist-win32.cmake >/dev/null
	@ls build/dist/*.tar.gz build/dist/*.zip

# deps first, then the build: a recursive make keeps that order under make -j.
test: deps
	@$(MAKE) --no-print-directory build dist
	@JOBS=$(JOBS) bash scripts/run-tests.sh

demo: deps
	@$(MAKE) --no-print-directory build-win32
	python3 scripts/demo.py

fuzz: build-fuzz
	@bash scripts/fuzz-long.sh $(FUZZ_SECONDS)

# The whole runs build real installers: the stub comes from the Windows build.
bench: build-win32
	build/host/explode_bench --benchmark_enable_random_interleaving=true --benchmark_repetitions=3
	build/host/whole_run_bench --mkpayload build/host/mkpayload/mkpayload --stub build/win32/extractor.exe

clean:
	rm -rf build
