# Orvane: `make run` builds and starts the program, `make test` builds and runs every test.
# Both first install whatever Debian packages are missing (as root, or through sudo).

PRESET ?= release
BUILD_DIR := build/$(PRESET)
PACKAGES := cmake g++ make binutils qt6-base-dev fonts-dejavu-core fonts-wine libsqlite3-dev \
            xvfb openbox xdotool x11-utils

.PHONY: all deps configure build run test test-asan screenshots bench clean

all: build

deps:
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

# The whole suite, built as released and again with AddressSanitizer and UBSan.
test: build
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET)
	cmake --preset asan
	cmake --build --preset asan
	QT_QPA_PLATFORM=offscreen ctest --preset asan

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	QT_QPA_PLATFORM=offscreen ctest --preset asan

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bin/orvane-screenshots docs/screenshots

bench: build
	$(BUILD_DIR)/bin/kalvex-bench
	cmake --build --preset $(PRESET) --target bench-startup
	cmake --build --preset $(PRESET) --target bench-scored

clean:
	rm -rf build
