# Third-party code, compiled from Debian's copies: the LZMA SDK C sources (lzma-dev),
# pugixml (its Debian source package, fetched by scripts/setup.sh) and GoogleTest
# (googletest).
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

if(VELM_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
