# shellcheck shell=bash
# The step build.sh, test.sh and bench/run.sh share, sourced by each of them
# from the top of the tree: installs what is missing, then configures and
# builds both architectures with their CMake presets (CMakePresets.json),
# each in its own tree (build/x86, build/x64), with the shipped files in
# dist/. BUILD_TARGETS names extra targets to build.
#
# It also sets PYTHON, for every script, to the Python the presets give CMake.

./install-deps.sh
for arch in x86 x64; do
  # A tree configured with another compiler (before the move to clang) is
  # configured afresh: CMake keeps the compiler it first found.
  fresh=""
  grep -qs 'CMAKE_C_COMPILER ".*clang-19"' "build/$arch"/CMakeFiles/*/CMakeCCompiler.cmake ||
    fresh=--fresh
  cmake --preset "$arch" $fresh >/dev/null
  # shellcheck disable=SC2086 # a list of target names
  cmake --build --preset "$arch" -j "$(nproc)" ${BUILD_TARGETS:+--target all $BUILD_TARGETS}
done
PYTHON=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' build/x64/CMakeCache.txt)
export PYTHON
# One CTest run over both trees (ctest --test-dir build): each tree has its
# own toolchain, so no CMake project holds both; this file stands above them.
echo 'subdirs("x86" "x64")' >build/CTestTestfile.cmake
