# Boost.Filesystem for the Windows build. Debian ships no MinGW build of Boost, so the library's own
# sources, of the version of the installed headers, are compiled here with the cross compiler.
# Defines the target Boost::filesystem, and cfgsweep_boost_version, the version linked ("1.83").

set(BOOST_HEADERS_ROOT /usr/include CACHE PATH "Folder holding the installed boost/ headers")
file(STRINGS "${BOOST_HEADERS_ROOT}/boost/version.hpp" boost_version_line
     REGEX "^#define BOOST_LIB_VERSION \"[0-9]+_[0-9]+\"")
string(REGEX MATCH "([0-9]+)_([0-9]+)" boost_version_underscored "${boost_version_line}")
set(cfgsweep_boost_version "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
if(NOT boost_version_line OR cfgsweep_boost_version VERSION_LESS 1.74)
  message(FATAL_ERROR "Boost 1.74 or later headers are needed in ${BOOST_HEADERS_ROOT}")
endif()

# Only boost/ is taken from the host's include folder, so that no other host header leaks in.
set(boost_headers "${CMAKE_BINARY_DIR}/boost-headers")
file(MAKE_DIRECTORY "${boost_headers}")
file(CREATE_LINK "${BOOST_HEADERS_ROOT}/boost" "${boost_headers}/boost" SYMBOLIC)

# Fetched once per build folder.
set(boost_sources "${CMAKE_BINARY_DIR}/boost-filesystem-src-${cfgsweep_boost_version}")
if(NOT EXISTS "${boost_sources}/operations.cpp")
  message(STATUS "Fetching the Boost.Filesystem ${cfgsweep_boost_version} sources from Debian's source package")
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/tools/boost-filesystem-source" "${boost_sources}.part"
            "${cfgsweep_boost_version}"
    RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0)
    file(REMOVE_RECURSE "${boost_sources}.part")
    message(FATAL_ERROR "Could not fetch the Boost.Filesystem sources")
  endif()
  file(RENAME "${boost_sources}.part" "${boost_sources}")
endif()

# The archive is named after the version, which the link map, and so the notices, then name.
set(boost_library boost_filesystem_${boost_version_underscored}_windows)
file(GLOB boost_filesystem_cpp "${boost_sources}/*.cpp")
add_library(${boost_library} STATIC ${boost_filesystem_cpp})
target_include_directories(${boost_library} SYSTEM PUBLIC "${boost_headers}")
target_compile_definitions(${boost_library}
  PUBLIC BOOST_FILESYSTEM_STATIC_LINK BOOST_ALL_NO_LIB
  PRIVATE BOOST_FILESYSTEM_SOURCE)
# Newer sources share state through std::atomic_ref, which C++20 brings; our own code stays C++17.
if(EXISTS "${boost_sources}/atomic_ref.hpp")
  set_target_properties(${boost_library} PROPERTIES CXX_STANDARD 20)
endif()
target_link_libraries(${boost_library} PUBLIC advapi32)
add_library(Boost::filesystem ALIAS ${boost_library})
