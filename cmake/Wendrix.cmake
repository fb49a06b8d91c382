# Build helpers shared by every folder.

# Each function in a section of its own, so that the agent's link can place
# the functions it runs at start together (cmake/StartFunctions.cmake).
add_compile_options(-fno-omit-frame-pointer -ffunction-sections)

# ccache when installed. Paths are rewritten relative to the source folder and the
# working folder is left out of the hash, so a clean clone in another folder hits
# the cache a working tree filled; the precompiled headers need the sloppiness.
find_program(WENDRIX_CCACHE ccache)
if(WENDRIX_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      ${WENDRIX_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
add_link_options(-fno-omit-frame-pointer)

# mold when installed: it links a test program in a fraction of the time the
# default linker takes.
find_program(WENDRIX_MOLD mold)
if(WENDRIX_MOLD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
   AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12.1)
  add_link_options(-fuse-ld=mold)
endif()

if(WENDRIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# Coverage feedback for libFuzzer in every library; only the fuzz programs
# link the fuzzer's main (fuzz/CMakeLists.txt).
if(WENDRIX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(WENDRIX_TSAN)
  add_compile_options(-fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()

# Warning flags for our own targets only.
function(wendrix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                           -Woverloaded-virtual)
  # GCC 12's flow-sensitive warnings fire falsely inside the standard library once
  # optimizing or instrumenting (std::string + char, std::optional<std::string>,
  # std::regex); they say nothing about our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict -Wno-stringop-overflow -Wno-array-bounds
                                             -Wno-stringop-overread
                                             -Wno-maybe-uninitialized)
  endif()
  # In a unity build every type of an anonymous namespace sits in an included
  # file, which is what this warning is about; it says nothing there.
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
  if(WENDRIX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Leaves `files` (paths relative to the calling folder) out of the unity build
# of their target: each compiles on its own, e.g. a file whose headers define
# macros (Xlib's) that break the files compiled after it.
function(wendrix_no_unity)
  foreach(file ${ARGN})
    set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/${file} PROPERTIES
                                SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()

# Drops from `srcs_var` (paths relative to `dir`) the files of subfolders that
# have a CMakeLists.txt of their own: those are libraries or test programs of
# their own (such as src/app/menus/ below src/app/).
function(wendrix_drop_nested dir srcs_var)
  file(GLOB_RECURSE lists RELATIVE ${dir} ${dir}/*/CMakeLists.txt)
  set(srcs ${${srcs_var}})
  foreach(list ${lists})
    get_filename_component(sub ${list} DIRECTORY)
    list(FILTER srcs EXCLUDE REGEX "^${sub}/")
  endforeach()
  set(${srcs_var} ${srcs} PARENT_SCOPE)
endfunction()

# wendrix_library(<name> [FOLDER <subfolder>] [EXCLUDE <files>...] [DEPS <targets>...])
# A static library `wendrix_<name>` from every .cpp below the calling folder, or
# below its FOLDER (a header-only folder becomes an INTERFACE library). Includes
# are rooted at src/. The implementation subfolders linux/, fake/, x11/ and qt/
# are left out: each is a library of its own (FOLDER), so an interface's library
# carries neither its real implementations nor its fakes. DEPS are the libraries
# the folder's files include. EXCLUDE names files (relative to the folder) of
# other targets, such as a program's entry point.
function(wendrix_library name)
  cmake_parse_arguments(ARG "" "FOLDER" "DEPS;EXCLUDE" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARG_FOLDER)
    set(dir ${dir}/${ARG_FOLDER})
  endif()
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS RELATIVE ${dir} ${dir}/*.cpp ${dir}/*.c)
  if(NOT ARG_FOLDER)
    list(FILTER srcs EXCLUDE REGEX "^(linux|fake|x11|qt|headless)/")
  endif()
  wendrix_drop_nested(${dir} srcs)
  if(ARG_EXCLUDE)
    list(REMOVE_ITEM srcs ${ARG_EXCLUDE})
  endif()
  list(TRANSFORM srcs PREPEND ${dir}/)
  set(target wendrix_${name})
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    wendrix_warnings(${target})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# wendrix_test_pch(<target> [DEPS <targets>...])
# An object library whose product is a precompiled header of GoogleTest's and
# GoogleMock's headers (the largest part of every test file), compiled with the
# usage requirements of DEPS. Test programs reuse it (REUSE_FROM) instead of
# each compiling its own. tests/support/CMakeLists.txt makes the groups:
#   wendrix_test_pch      every test program unless it names a group;
#   wendrix_test_pch_qt   tests that link Qt (position-independent code and
#                         Qt's definitions): wendrix_test(... PCH_GROUP qt).
# A header compiled with other code-generation options (-fPIC, -O, sanitizers)
# or other definitions of names GoogleTest's headers use cannot be reused; GCC
# checks this for every file, and with -Winvalid-pch (added by CMake) and
# -Werror a mismatch fails the build ("not used because ...") rather than
# compiling wrongly. Definitions of names those headers do not use (a test's
# own WENDRIX_PROGRAM="...", cpp-httplib's CPPHTTPLIB_*) do not stop reuse. A
# test that cannot reuse an existing group gets one of its own: a new
# wendrix_test_pch(wendrix_test_pch_<group> DEPS <what gives it its flags>)
# in tests/support/CMakeLists.txt and PCH_GROUP <group> on the test. A group's
# header must be built with no definition its tests lack.
function(wendrix_test_pch target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// Builds the test programs' precompiled header.\n")
  add_library(${target} OBJECT ${source})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest)
  wendrix_warnings(${target})
  target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
endfunction()

# wendrix_tsan_skip(<test> <reason>)
# Under the tsan preset: a CTest test `<test>` that is reported as skipped
# with `reason`, in place of a test program ThreadSanitizer cannot run.
function(wendrix_tsan_skip test reason)
  add_test(NAME ${test} COMMAND ${CMAKE_COMMAND} -E echo
           "${test} does not run under ThreadSanitizer: ${reason}")
  set_tests_properties(${test} PROPERTIES SKIP_REGULAR_EXPRESSION "does not run under")
endfunction()

# wendrix_test(<name> [DEPS <targets>...] [LABELS <labels>...] [ENVIRONMENT_MODIFICATION <op>]
#              [PCH_GROUP <group>] [TSAN_SKIP <reason>] [NO_UNITY <reason>])
# A GoogleTest program `test_<name>` from every .cpp below the calling folder,
# registered with CTest test by test, and once whole as `test_<name>.shuffled`
# (see below). ENVIRONMENT_MODIFICATION is one change of
# the tests' environment in the form of CTest's property of that name.
# PCH_GROUP names the precompiled header it reuses, wendrix_test_pch_<group>
# (see wendrix_test_pch), instead of the shared wendrix_test_pch.
# TSAN_SKIP says why ThreadSanitizer cannot run the program (uninstrumented
# libraries, threads suspended by signals): under the tsan preset it is not
# built, and CTest lists it as skipped with that reason.
# In a unity build (the default preset) the program's files are compiled in
# batches, which halves their cost: helpers of the same name in two files of
# one program clash there, so they live in a shared header or get names of
# their own. NO_UNITY says why a program's files still compile one by one.
function(wendrix_test name)
  cmake_parse_arguments(ARG "" "ENVIRONMENT_MODIFICATION;PCH_GROUP;TSAN_SKIP;NO_UNITY" "DEPS;LABELS"
                        ${ARGN})
  if(WENDRIX_TSAN AND ARG_TSAN_SKIP)
    wendrix_tsan_skip(test_${name} "${ARG_TSAN_SKIP}")
    return()
  endif()
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  wendrix_drop_nested(${CMAKE_CURRENT_SOURCE_DIR} srcs)
  list(TRANSFORM srcs PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  if(NOT srcs)
    return()  # a folder whose tests are not written yet
  endif()
  set(target test_${name})
  add_executable(${target} ${srcs})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} wendrix_test_support GTest::gmock
                                          GTest::gtest_main)
  wendrix_warnings(${target})
  set(pch wendrix_test_pch)
  if(ARG_PCH_GROUP)
    set(pch wendrix_test_pch_${ARG_PCH_GROUP})
  endif()
  if(NOT TARGET ${pch})
    message(FATAL_ERROR "test_${name}: no precompiled header ${pch} (tests/support/CMakeLists.txt)")
  endif()
  target_precompile_headers(${target} REUSE_FROM ${pch})
  if(ARG_NO_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD OFF)
  endif()
  set(props "")
  if(ARG_LABELS)
    set(props LABELS "${ARG_LABELS}")
  endif()
  if(ARG_ENVIRONMENT_MODIFICATION)
    list(APPEND props ENVIRONMENT_MODIFICATION "${ARG_ENVIRONMENT_MODIFICATION}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${props} ENVIRONMENT "TZ=UTC")
  # The whole program once more in a random order (the seed is printed), so a
  # test that leans on what an earlier one left behind fails. Labelled
  # "shuffled": the test presets leave it out; the "shuffled" preset runs only it.
  add_test(NAME ${target}.shuffled COMMAND ${target} --gtest_shuffle)
  set(shuffled_labels shuffled ${ARG_LABELS})
  set_tests_properties(${target}.shuffled PROPERTIES LABELS "${shuffled_labels}" ENVIRONMENT "TZ=UTC")
  if(ARG_ENVIRONMENT_MODIFICATION)
    set_tests_properties(${target}.shuffled PROPERTIES
                         ENVIRONMENT_MODIFICATION "${ARG_ENVIRONMENT_MODIFICATION}")
  endif()
endfunction()

# Adds every direct child folder of the calling folder that has a CMakeLists.txt
# (used where a folder is split into one library per subfolder, such as
# src/telemetry/<part>/ and src/platform/<part>/).
function(wendrix_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
