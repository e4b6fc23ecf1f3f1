# Orvane: `make run` builds and starts the program, `make test` builds and runs every test.
# Both first install whatever Debian packages are missing (as root, or through sudo).

PRESET ?= release
BUILD_DIR := build/$(PRESET)
# What building and running need; the tests, packages, fuzzing and benchmarks need the rest.
RUN_PACKAGES := cmake g++ make binutils pkg-config qt6-base-dev libsqlite3-dev libpq-dev \
                fonts-dejavu-core fonts-wine
TEST_PACKAGES := postgresql xvfb openbox xdotool x11-utils dbus-daemon at-spi2-core \
                 chromium chromium-driver \
                 dpkg-dev file xz-utils help2man lintian appstream desktop-file-utils systemd \
                 clang libclang-rt-14-dev clang-format clang-tidy
FUZZ_SECONDS ?= 60
FUZZERS := submission httprequest resultsfile hostfiles

.PHONY: all deps deps-test install-packages configure build run check test test-asan test-fuzz fuzz format-check lint hooks screenshots bench package clean

all: build

deps:
	@$(MAKE) --no-print-directory install-packages PACKAGES="$(RUN_PACKAGES)"

deps-test:
	@$(MAKE) --no-print-directory install-packages PACKAGES="$(RUN_PACKAGES) $(TEST_PACKAGES)"

install-packages:
	@missing=""; \
	for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		if [ "$$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi; \
		$$sudo apt-get update -qq && \
		$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

run: build
	$(BUILD_DIR)/bin/orvane

# One test, for the inner loop: builds only what the test program T needs and runs it, e.g.
# `make check T=tst_numbertext`. Without T, every test of the build. Configures only once.
check:
	@[ -f $(BUILD_DIR)/CMakeCache.txt ] || $(MAKE) --no-print-directory configure
	cmake --build --preset $(PRESET) $(if $(T),--target $(T))
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET) --output-on-failure $(if $(T),-R '^$(T)$$')

# The Debian packages, in build/package/packages: the same tree makes the same bytes.
package: deps-test
	cmake --preset package
	cmake --build --preset package
	cmake --build --preset package --target debian-packages

# The whole suite, built as released (with the packages it checks) and again with
# AddressSanitizer and UBSan; then every fuzz target over its seed corpus, so an input that
# once crashed stays fixed.
test: deps-test build package
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET)
	cmake --preset asan
	cmake --build --preset asan
	QT_QPA_PLATFORM=offscreen ctest --preset asan
	$(MAKE) --no-print-directory test-fuzz

test-asan: deps-test
	cmake --preset asan
	cmake --build --preset asan
	QT_QPA_PLATFORM=offscreen ctest --preset asan

test-fuzz: deps-test
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

# Each fuzz target searches for FUZZ_SECONDS (default 60); what it finds new is kept in
# build/fuzz/corpus, a crashing input in build/fuzz/crash-*.
fuzz: deps-test
	cmake --preset fuzz
	cmake --build --preset fuzz
	@for target in $(FUZZERS); do \
		mkdir -p build/fuzz/corpus/$$target; \
		echo "== fuzz_$$target for $(FUZZ_SECONDS) s"; \
		build/fuzz/bin/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=build/fuzz/ build/fuzz/corpus/$$target fuzz/corpus/$$target \
			|| exit 1; \
	done

# Every tracked C and C++ source as the repository's .clang-format writes it.
format-check: deps-test
	git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

# Every C and C++ source of the release build through clang-tidy, with the checks in
# .clang-tidy; any finding fails.
lint: deps-test build
	run-clang-tidy -p $(BUILD_DIR) -quiet -j $(shell nproc) -extra-arg=-Wno-ignored-optimization-argument \
		-header-filter='^$(CURDIR)/(app|server|cli|tests|bench|kernels)/' \
		'^$(CURDIR)/(app|server|cli|tests|bench|kernels)/.*\.(c|cpp)$$'

# The pre-commit hook that formats staged sources.
hooks:
	@hooks=$$(git rev-parse --git-path hooks) && mkdir -p "$$hooks" && \
		ln -sf "$(CURDIR)/tools/pre-commit" "$$hooks/pre-commit" && \
		echo "pre-commit hook installed in $$hooks"

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bin/orvane-screenshots docs/screenshots

bench: deps-test build
	cmake --build --preset $(PRESET) --target bench-cli
	cmake --build --preset $(PRESET) --target bench-kernel-thread
	cmake --build --preset $(PRESET) --target bench-startup
	cmake --build --preset $(PRESET) --target bench-scored

clean:
	rm -rf build
