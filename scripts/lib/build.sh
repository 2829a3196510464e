# Sourced: build_demo TARGET... configures build/ and builds the targets
# named, only those. No BUILD_TESTING is given: build/ keeps the tests that
# scripts/test configured there, and a new build/ gets them only where
# GoogleTest is installed (CMakeLists.txt decides). The configure step is
# quiet; the build's output is the caller's.
build_demo() {
  cmake -S . -B build >/dev/null &&
    cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target "$@"
}
