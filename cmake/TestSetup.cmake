# GoogleTest for both builds; for Windows, the Wine prefix and the wrapper that runs each test
# executable in it.
include(GoogleTest)

# Windows builds compile GoogleTest from source (Debian ships it in /usr/src/googletest).
if(WIN32)
  set(DROVEMARK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for Windows builds")
endif()

if(WIN32 AND EXISTS ${DROVEMARK_GTEST_SOURCE}/CMakeLists.txt)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${DROVEMARK_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(DROVEMARK_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
  # A 64-bit program goes straight to the 64-bit loader: with 32-bit Wine installed too, plain
  # "wine" hands it on through Wine's start program, which now and then fails to start it.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(DROVEMARK_WINE_LOADER ${PROJECT_SOURCE_DIR}/tools/wine-native)
  else()
    set(DROVEMARK_WINE_LOADER wine)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/tools/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)

  # The prefix is made once per build tree, with Wine's null graphics driver.
  set(prefix_stamp ${DROVEMARK_WINEPREFIX}/.drovemark-ready-null)
  add_custom_command(OUTPUT ${prefix_stamp}
                     COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-prefix ${DROVEMARK_WINEPREFIX} null
                     COMMENT "Creating the Wine prefix for the tests")
  add_custom_target(wine_prefix ALL DEPENDS ${prefix_stamp})
endif()

# One test executable; each of its tests runs as its own CTest test (under Wine when cross
# compiled), never longer than a minute so that a stuck modal window fails instead of hanging.
# WRAPPER names a command that runs each test (and the listing of tests) in its surroundings;
# RESOURCE_LOCK names what its tests share with others (the clipboard), so they never overlap;
# TEST_FILTER (a gtest filter) leaves out tests that run only in another form elsewhere.
function(drovemark_add_test_executable name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "RESOURCE_LOCK;TEST_FILTER" "WRAPPER")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  if(arg_WRAPPER)
    set(emulator ${arg_WRAPPER})
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      list(APPEND emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${emulator}")
  endif()
  target_link_libraries(${name} PRIVATE drovemark_warnings GTest::gtest_main GTest::gmock)
  if(WIN32)
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:drovemark_resources>)
  endif()
  if(TARGET wine_prefix)
    add_dependencies(${name} wine_prefix)
  endif()
  set(lock)
  if(arg_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${arg_RESOURCE_LOCK})
  endif()
  set(filter)
  if(arg_TEST_FILTER)
    set(filter TEST_FILTER ${arg_TEST_FILTER})
  endif()
  gtest_discover_tests(${name}
                       ${filter}
                       DISCOVERY_MODE PRE_TEST
                       DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 60 LABELS ${DROVEMARK_TEST_LABEL}
                                  SKIP_RETURN_CODE 77 ${lock})
endfunction()

if(WIN32)
  set(DROVEMARK_TEST_LABEL wine)
else()
  set(DROVEMARK_TEST_LABEL native)
endif()
