# The step build.sh, test.sh and bench/run.sh share, sourced by each of them
# from the top of the tree: installs what is missing, then builds both
# architectures, each in its own tree (build/x86, build/x64), with the
# shipped files in dist/. BUILD_TARGETS names extra targets to build.
#
# It also decides, for every script and for CMake, which Python runs the
# tests, the demonstration and the benchmark: Debian's, since the PE reader
# comes as a Debian package (python3-pefile); another python3 first on PATH
# would not have it.
PYTHON=/usr/bin/python3

./install-deps.sh
for arch in x86 x64; do
  case $arch in x86) triple=i686-w64-mingw32 ;; x64) triple=x86_64-w64-mingw32 ;; esac
  cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/$triple.cmake" \
    -DPython3_EXECUTABLE="$PYTHON" >/dev/null
  # shellcheck disable=SC2086 # a list of target names
  cmake --build "build/$arch" -j "$(nproc)" ${BUILD_TARGETS:+--target all $BUILD_TARGETS}
done
# One ctest run over both trees: ctest --test-dir build
echo 'subdirs("x86" "x64")' >build/CTestTestfile.cmake
