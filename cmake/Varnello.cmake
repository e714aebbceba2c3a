# Helpers shared by the folders' CMakeLists.

# varnello_library(NAME [QT] [SOURCES f.cpp ...] [EXCLUDE f.cpp ...] DEPS ...): a static library of the
# calling folder's .cpp files (all of them, only SOURCES, or all but EXCLUDE). Plain libraries link only
# the standard library, zlib and each other; QT ones may use Qt and are left out of builds without Qt
# (the fuzz build), so a folder can hold a plain library beside its Qt one.
function(varnello_library name)
  cmake_parse_arguments(ARG "QT" "" "DEPS;SOURCES;EXCLUDE" ${ARGN})
  if(ARG_QT AND NOT TARGET Qt6::Widgets)
    return()
  endif()
  if(ARG_SOURCES)
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    foreach(excluded IN LISTS ARG_EXCLUDE)
      list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
  endif()
  if(NOT sources)
    return()  # a folder takes part once it holds code
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(ARG_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PUBLIC Qt6::Widgets Qt6::Network)
  endif()
endfunction()

# varnello_test(NAME SOURCES ... DEPS ... [QT]): one GoogleTest executable registered with CTest.
# Tests find their data files through VARNELLO_TEST_DATA (the test's source folder).
function(varnello_test name)
  cmake_parse_arguments(ARG "QT" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(ARG_QT)
    list(APPEND ARG_SOURCES ${PROJECT_SOURCE_DIR}/tests/common/QtTestMain.cpp)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Threads::Threads)
  if(ARG_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
      VARNELLO_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}"
      VARNELLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # The executable's prefix ("inet", "app", ...) becomes a label, so a pass can pick suites (ctest -L).
  string(REGEX REPLACE "_.*" "" label ${name})
  gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${ARG_TIMEOUT} LABELS ${label})
endfunction()

# varnello_tests_per_file(PREFIX DEPS ... [QT]): one test executable per *Test.cpp of the calling folder,
# so a folder's suites build and fail independently.
function(varnello_tests_per_file prefix)
  cmake_parse_arguments(ARG "QT" "" "DEPS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  foreach(src IN LISTS test_sources)
    get_filename_component(name ${src} NAME_WE)
    if(ARG_QT)
      varnello_test(${prefix}_${name} SOURCES ${src} DEPS ${ARG_DEPS} QT)
    else()
      varnello_test(${prefix}_${name} SOURCES ${src} DEPS ${ARG_DEPS})
    endif()
  endforeach()
endfunction()
