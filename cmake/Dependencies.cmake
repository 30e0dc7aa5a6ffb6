# Third-party code is installed on the build machine, never copied into the repository.

# nlohmann JSON: header only, from Debian. Only its own folder is exposed to the cross compiler,
# because the host's /usr/include carries glibc headers that clash with MinGW's.
set(NLOHMANN_JSON_DIR /usr/include/nlohmann CACHE PATH "Folder of Debian's nlohmann JSON headers")
if(NOT EXISTS ${NLOHMANN_JSON_DIR}/json.hpp)
  message(FATAL_ERROR "nlohmann JSON not found in ${NLOHMANN_JSON_DIR}: run scripts/setup.sh")
endif()
set(ORVALO_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${ORVALO_THIRD_PARTY_INCLUDE})
file(CREATE_LINK ${NLOHMANN_JSON_DIR} ${ORVALO_THIRD_PARTY_INCLUDE}/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${ORVALO_THIRD_PARTY_INCLUDE})

# miniz: the amalgamated sources from the npm package pinned in package-lock.json (npm ci).
set(MINIZ_DIR ${CMAKE_SOURCE_DIR}/node_modules/miniz.c)
if(NOT EXISTS ${MINIZ_DIR}/miniz.c)
  message(FATAL_ERROR "miniz not found in ${MINIZ_DIR}: run scripts/setup.sh")
endif()
# Its CRC-32 is ours (packages/crc32.cpp), several times faster than the table it carries.
add_library(miniz STATIC ${MINIZ_DIR}/miniz.c ${CMAKE_SOURCE_DIR}/packages/crc32.cpp)
target_include_directories(miniz SYSTEM PUBLIC ${MINIZ_DIR})
target_include_directories(miniz PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(miniz PRIVATE USE_EXTERNAL_MZCRC)
# Only the reader is used; large-file support is on by default for 64-bit Windows.
target_compile_definitions(miniz PUBLIC MINIZ_NO_ZLIB_COMPATIBLE_NAMES)
target_compile_options(miniz PRIVATE -w)
