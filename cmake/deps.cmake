# Third-party code, compiled from Debian's copies: the LZMA SDK C sources (lzma-dev),
# pugixml and libdivsufsort (their Debian source packages, fetched by scripts/setup.sh),
# and GoogleTest (googletest).
set(VELM_DEPS_DIR ${PROJECT_SOURCE_DIR}/build/deps CACHE PATH "Unpacked dependency sources")
set(LZMA_SDK_DIR /usr/include/lzma CACHE PATH "LZMA SDK C sources")

add_library(lzma_sdk STATIC
  ${LZMA_SDK_DIR}/LzmaDec.c ${LZMA_SDK_DIR}/LzmaEnc.c ${LZMA_SDK_DIR}/LzFind.c)
# The multi-threaded match finder is not shipped by the package.
target_compile_definitions(lzma_sdk PUBLIC _7ZIP_ST)
target_include_directories(lzma_sdk SYSTEM PUBLIC ${LZMA_SDK_DIR})
set_target_properties(lzma_sdk PROPERTIES C_STANDARD 99)
target_compile_options(lzma_sdk PRIVATE -w)

set(PUGIXML_DIR ${VELM_DEPS_DIR}/pugixml-1.13/src)
if(NOT EXISTS ${PUGIXML_DIR}/pugixml.cpp)
  message(FATAL_ERROR "pugixml sources missing in ${PUGIXML_DIR}: run scripts/setup.sh")
endif()
add_library(pugixml STATIC ${PUGIXML_DIR}/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${PUGIXML_DIR})
# Wide-character mode: the documents' texts are wide strings everywhere else in the code.
target_compile_definitions(pugixml PUBLIC PUGIXML_WCHAR_MODE)
target_compile_options(pugixml PRIVATE -w)

set(DIVSUFSORT_DIR ${VELM_DEPS_DIR}/libdivsufsort-2.0.1)
if(NOT EXISTS ${DIVSUFSORT_DIR}/lib/divsufsort.c)
  message(FATAL_ERROR "libdivsufsort sources missing in ${DIVSUFSORT_DIR}: run scripts/setup.sh")
endif()
# The package's own build generates divsufsort.h from a template; the 64-bit index
# variant is what diffs of large game files need.
set(DIVSUFSORT_GEN ${CMAKE_BINARY_DIR}/deps/divsufsort)
file(MAKE_DIRECTORY ${DIVSUFSORT_GEN})
set(DIVSUFSORT_EXPORT "")
set(DIVSUFSORT_IMPORT "")
set(INCFILE "#include <inttypes.h>")
set(SAUCHAR_TYPE uint8_t)
set(SAINT32_TYPE int32_t)
set(SAINT_PRId PRId32)
set(SAINDEX_TYPE int64_t)
set(SAINDEX_PRId PRId64)
set(W64BIT 64)
set(PROJECT_VERSION_FULL 2.0.1)
configure_file(${DIVSUFSORT_DIR}/include/divsufsort.h.cmake ${DIVSUFSORT_GEN}/divsufsort64.h @ONLY)
file(WRITE ${DIVSUFSORT_GEN}/config.h
  "#define HAVE_INTTYPES_H 1\n#define HAVE_STDINT_H 1\n#define HAVE_STDLIB_H 1\n#define HAVE_STRING_H 1\n#define HAVE_MEMORY_H 1\n#define INLINE inline\n#define PROJECT_VERSION_FULL \"2.0.1\"\n")
add_library(divsufsort64 STATIC
  ${DIVSUFSORT_DIR}/lib/divsufsort.c ${DIVSUFSORT_DIR}/lib/sssort.c
  ${DIVSUFSORT_DIR}/lib/trsort.c ${DIVSUFSORT_DIR}/lib/utils.c)
target_compile_definitions(divsufsort64 PRIVATE HAVE_CONFIG_H BUILD_DIVSUFSORT64)
target_include_directories(divsufsort64 PRIVATE ${DIVSUFSORT_DIR}/include)
target_include_directories(divsufsort64 SYSTEM PUBLIC ${DIVSUFSORT_GEN})
target_compile_options(divsufsort64 PRIVATE -w)

if(VELM_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
