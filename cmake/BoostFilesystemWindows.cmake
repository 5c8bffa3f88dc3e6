# Boost.Filesystem for the Windows build. Debian ships no MinGW build of Boost, so the library's own
# sources, of the version of the installed headers, are compiled here with the cross compiler.
# Defines the target Boost::filesystem.

set(BOOST_HEADERS_ROOT /usr/include CACHE PATH "Folder holding the installed boost/ headers")
file(STRINGS "${BOOST_HEADERS_ROOT}/boost/version.hpp" boost_version_line
     REGEX "^#define BOOST_LIB_VERSION \"1_74\"")
if(NOT boost_version_line)
  message(FATAL_ERROR "Boost 1.74 headers are needed in ${BOOST_HEADERS_ROOT}")
endif()

# Only boost/ is taken from the host's include folder, so that no other host header leaks in.
set(boost_headers "${CMAKE_BINARY_DIR}/boost-headers")
file(MAKE_DIRECTORY "${boost_headers}")
file(CREATE_LINK "${BOOST_HEADERS_ROOT}/boost" "${boost_headers}/boost" SYMBOLIC)

# Fetched once per build folder.
set(boost_sources "${CMAKE_BINARY_DIR}/boost-filesystem-src")
if(NOT EXISTS "${boost_sources}/operations.cpp")
  message(STATUS "Fetching the Boost.Filesystem sources from Debian's source package")
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/tools/boost-filesystem-source" "${boost_sources}.part"
    RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0)
    file(REMOVE_RECURSE "${boost_sources}.part")
    message(FATAL_ERROR "Could not fetch the Boost.Filesystem sources")
  endif()
  file(RENAME "${boost_sources}.part" "${boost_sources}")
endif()

file(GLOB boost_filesystem_cpp "${boost_sources}/*.cpp")
add_library(boost_filesystem_windows STATIC ${boost_filesystem_cpp})
target_include_directories(boost_filesystem_windows SYSTEM PUBLIC "${boost_headers}")
target_compile_definitions(boost_filesystem_windows
  PUBLIC BOOST_FILESYSTEM_STATIC_LINK BOOST_ALL_NO_LIB
  PRIVATE BOOST_FILESYSTEM_SOURCE)
target_link_libraries(boost_filesystem_windows PUBLIC advapi32)
add_library(Boost::filesystem ALIAS boost_filesystem_windows)
