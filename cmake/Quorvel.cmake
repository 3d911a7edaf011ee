# Helpers shared by every folder's CMakeLists.txt.

# qv_library(<target> SOURCES ... [DEPS ...]): one folder's library. Sources of the
# folder include each other by path from the repository root ("platform/base/text.h").
# The standard headers most units include are precompiled once (platform/base/common_pch.h)
# and shared by every library.
function(qv_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  if(NOT TARGET qv_common_pch)
    add_library(qv_common_pch STATIC ${CMAKE_SOURCE_DIR}/platform/base/common_pch.cpp)
    target_precompile_headers(qv_common_pch PRIVATE ${CMAKE_SOURCE_DIR}/platform/base/common_pch.h)
  endif()
  target_precompile_headers(${target} REUSE_FROM qv_common_pch)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Winvalid-pch>)
  endif()
endfunction()

# Test programs share their compile definitions, their precompiled headers (test_pch.h, made
# once) and the private runtime folder's object. Under UndefinedBehaviorSanitizer only the code
# under test carries its checks: a test's own code is built without them, which halves the
# build of the tests (the link still brings the run-time, and the libraries keep every check).
function(qv_test_flags target)
  target_compile_definitions(${target} PRIVATE QV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                               QV_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Winvalid-pch>)
  if(QV_SANITIZE MATCHES "undefined")
    target_compile_options(${target} PRIVATE -fno-sanitize=undefined)
  endif()
  target_link_libraries(${target} PRIVATE GTest::gtest Threads::Threads)
endfunction()

# qv_test(<target> LABEL <folder> SOURCES ... [DEPS ...] [THREADED] [COST n]): a GoogleTest
# program registered with CTest under the folder's label. THREADED tests also run
# under ThreadSanitizer (`make tsan`), and a ThreadSanitizer build (QV_THREADED_ONLY) builds
# and registers only those. Every test program runs with a runtime folder of its own
# (tests/fixtures/private_runtime.cpp).
option(QV_THREADED_ONLY "Build and register only the THREADED tests" OFF)
function(qv_test target)
  cmake_parse_arguments(ARG "THREADED" "LABEL;COST" "SOURCES;DEPS" ${ARGN})
  if(NOT TARGET qv_test_common)
    add_library(qv_test_common OBJECT ${CMAKE_SOURCE_DIR}/tests/fixtures/private_runtime.cpp)
    qv_test_flags(qv_test_common)
    # Compiled as the executables are (-fPIE, not a library's -fPIC), or GCC refuses the
    # precompiled headers in them.
    set_target_properties(qv_test_common PROPERTIES POSITION_INDEPENDENT_CODE OFF)
    target_compile_options(qv_test_common PRIVATE -fPIE)
    target_precompile_headers(qv_test_common PRIVATE ${CMAKE_SOURCE_DIR}/tests/fixtures/test_pch.h)
  endif()
  add_executable(${target} ${ARG_SOURCES} $<TARGET_OBJECTS:qv_test_common>)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest_main)
  qv_test_flags(${target})
  target_precompile_headers(${target} REUSE_FROM qv_test_common)
  if(QV_THREADED_ONLY AND NOT ARG_THREADED)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL ON)
    return()
  endif()
  set(labels ${ARG_LABEL})
  if(ARG_THREADED)
    list(APPEND labels threaded)
  endif()
  # gtest_discover_tests splits lists in PROPERTIES; escape the separator so that the label
  # list reaches the generated test file whole.
  string(REPLACE ";" "\\\\\\\\\\\\\\\\;" labels "${labels}")
  # COST: a program whose tests take long (whole-program runs, time-outs) starts them first, so
  # that a parallel run does not end waiting for them.
  if(NOT ARG_COST)
    set(ARG_COST 0)
  endif()
  gtest_discover_tests(${target} PROPERTIES LABELS "${labels}" COST ${ARG_COST}
                       DISCOVERY_TIMEOUT 60 WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# qv_add_subfolders(): adds each folder below the current one that has a CMakeLists.txt
# (the per-area benchmark and fuzz folders).
function(qv_add_subfolders)
  file(GLOB areas LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area IN LISTS areas)
    if(EXISTS ${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()

# qv_add_logger_data(<target>): a binary that carries the exception logger gets its data
# block (default options and the debug information from its DWARF) in the ELF section
# ".oldata", and the project's version in ".quorvel.version", added after each link.
function(qv_add_logger_data target)
  find_program(QV_OBJCOPY NAMES objcopy REQUIRED)
  add_dependencies(${target} qv-oldata)
  # A new writer relinks the binary, so its block is written again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:qv-oldata>
                                                             ${CMAKE_BINARY_DIR}/quorvel.version)
  set(block $<TARGET_FILE:${target}>.oldata)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:qv-oldata>
            $<TARGET_FILE:${target}> ${block}
    COMMAND ${QV_OBJCOPY} --add-section .oldata=${block} --set-section-flags .oldata=readonly
            --add-section .quorvel.version=${CMAKE_BINARY_DIR}/quorvel.version
            --set-section-flags .quorvel.version=readonly
            $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E rm -f ${block}
    VERBATIM)
endfunction()

# qv_add_exception_logger(<target>): the program installs the exception logger at start-up
# (and carries its data block).
function(qv_add_exception_logger target)
  target_link_libraries(${target} PRIVATE qv_crashlog)
  target_link_options(${target} PRIVATE "LINKER:--undefined=qv_ostrel_log_startup")
  qv_add_logger_data(${target})
endfunction()
