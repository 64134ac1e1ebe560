SHELL := /bin/bash
# Thin wrapper over CMake: installs what a fresh Debian 12 machine lacks, then builds into build/.
BUILD ?= build
ARGS ?=
# libxkbcommon-dev only quiets Qt's configure-time "Could NOT find XKB" (the program does not use it).
PACKAGES := cmake make g++ pkg-config qt6-base-dev libxkbcommon-dev libpcap-dev fonts-ipafont-gothic \
  libtomlplusplus-dev libpcre2-dev libboost-dev
JOBS := $(shell nproc)

.PHONY: deps test-locale test-tools configure build run test test-sanitize fuzz bench package clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y $$missing; \
	fi

# The number tests also read under a decimal-comma locale, which a fresh machine has not generated.
TEST_LOCALE := de_DE.UTF-8
test-locale:
	@locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' || { \
	  $(MAKE) --no-print-directory deps PACKAGES=locales; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  echo "Generating locale $(TEST_LOCALE)"; \
	  grep -qx '$(TEST_LOCALE) UTF-8' /etc/locale.gen || \
	    echo '$(TEST_LOCALE) UTF-8' | $$SUDO tee -a /etc/locale.gen > /dev/null; \
	  $$SUDO locale-gen; \
	}
	@locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' || \
	  { echo "error: locale $(TEST_LOCALE) is still missing; the tests need it" >&2; exit 1; }

configure: deps
	cmake -S . -B $(BUILD)

# Everything: the program, its package files and the test programs.
build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the program, so the window is up without waiting for the test programs to compile.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target peertest
	$(BUILD)/peertest $(ARGS)

# The replay tests capture real traffic with tcpdump and turn captures into pcapng with editcap;
# the device tests run real Modbus and CoAP clients against a stand-in; without them (or without
# root) those tests skip.
test-tools:
	@$(MAKE) --no-print-directory deps PACKAGES="tcpdump wireshark-common mbpoll python3-pymodbus libcoap3-bin"

test: build test-locale test-tools
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer (the program the
# process-level tests start is built the same way); any report, leaks included, fails the run.
SANITIZE_BUILD ?= build-sanitize
test-sanitize: deps test-locale test-tools
	cmake -S . -B $(SANITIZE_BUILD) -DPEERTEST_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# Each fuzz target runs FUZZ_SECONDS from its seed corpus; new finds go to a scratch folder, a
# failing input to build-fuzz/ (shown with the whole report).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := numeric hex text date rules capture
fuzz: deps
	@$(MAKE) --no-print-directory deps PACKAGES="clang libclang-rt-14-dev"
	CXX=clang++ cmake -S . -B build-fuzz -DPEERTEST_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  scratch=$$(mktemp -d); \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/fuzz_$$t- $$scratch fuzz/corpus/$$t > $$scratch.log 2>&1; \
	  status=$$?; \
	  if [ $$status -eq 0 ]; then grep -E "stat::number_of_executed_units|Done" $$scratch.log; \
	  else tail -n 60 $$scratch.log; fi; \
	  rm -rf $$scratch $$scratch.log; [ $$status -eq 0 ] || exit $$status; \
	done

# Release build in its own folder; prints figures and asserts nothing.
bench: deps
	@$(MAKE) --no-print-directory deps PACKAGES="ncat tcpreplay"
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPEERTEST_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build build-bench -j $(JOBS)
	cd build-bench && QT_QPA_PLATFORM=offscreen bench/peertest_bench

# The Debian package, from a Release build of its own made with Debian's hardening flags and
# logging in the user's data folder; the .deb is put into $(BUILD)/ (any older one goes).
PACKAGE_BUILD ?= build-package
package: deps
	@$(MAKE) --no-print-directory deps PACKAGES="dpkg-dev file lintian"
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DPEERTEST_LOG_IN_USER_DATA=ON -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/peertest_*.deb $(BUILD)/peertest_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	mkdir -p $(BUILD) && cp $(PACKAGE_BUILD)/peertest_*.deb $(BUILD)/
	@ls $(BUILD)/peertest_*.deb

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-fuzz build-bench $(PACKAGE_BUILD)
