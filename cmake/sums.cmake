# Writes DIST/SHA256SUMS: the SHA-256 of every program and package in DIST,
# sorted by path, in the format `sha256sum -c` checks. Run as
#   cmake -DDIST=dist -P cmake/sums.cmake
# A relative DIST is taken from where cmake runs.
get_filename_component(DIST "${DIST}" ABSOLUTE)
file(GLOB files RELATIVE ${DIST} ${DIST}/*/*.exe ${DIST}/*.msi)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${DIST}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${DIST}/SHA256SUMS "${sums}")
