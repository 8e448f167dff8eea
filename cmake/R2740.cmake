# Shared build helpers.

# Our own code: warnings are errors.
function(r2740_strict target)
  target_compile_options(${target} PRIVATE ${R2740_WARNINGS})
endfunction()

# r2740_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...])
# A GoogleTest executable registered with CTest, one CTest entry per test.
function(r2740_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  r2740_strict(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    R2740_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    R2740_BINARY_DIR="${CMAKE_BINARY_DIR}"
    R2740_BUNDLE_DIR="${R2740_BUNDLE_DIR}")
  set(props ENVIRONMENT "R2740_TEST=1")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# r2740_add_bundle(NAME <Bundle> LIBRARY <lib> INFO_PLIST <file>
#                  [RESOURCES <dir>] SOURCES ... [LIBS ...] [DEFINES ...] [NO_INSTALL])
# Builds <Bundle>.plugin/Contents/{Info.plist, lib/<lib>.so, Resources/...}
# under ${R2740_BUNDLE_DIR}, and installs the same tree into the PDEs folder
# (unless NO_INSTALL). The library target is named <lib>.
function(r2740_add_bundle)
  cmake_parse_arguments(B "NO_INSTALL" "NAME;LIBRARY;INFO_PLIST;RESOURCES" "SOURCES;LIBS;DEFINES;INCLUDES" ${ARGN})
  set(contents ${R2740_BUNDLE_DIR}/${B_NAME}.plugin/Contents)
  add_library(${B_LIBRARY} MODULE ${B_SOURCES})
  r2740_strict(${B_LIBRARY})
  set_target_properties(${B_LIBRARY} PROPERTIES
    PREFIX "" OUTPUT_NAME ${B_LIBRARY}
    LIBRARY_OUTPUT_DIRECTORY ${contents}/lib
    # <folder>/<Bundle>.plugin/Contents/lib -> <folder>/../lib: the build's
    # lib folder, and r2740/lib beside the installed PDEs folder.
    BUILD_RPATH "$ORIGIN/../../../../lib"
    INSTALL_RPATH "$ORIGIN/../../../../lib")
  target_link_libraries(${B_LIBRARY} PRIVATE ${B_LIBS})
  target_link_options(${B_LIBRARY} PRIVATE -Wl,--no-undefined)
  if(B_DEFINES)
    target_compile_definitions(${B_LIBRARY} PRIVATE ${B_DEFINES})
  endif()
  if(B_INCLUDES)
    target_include_directories(${B_LIBRARY} PRIVATE ${B_INCLUDES})
  endif()
  configure_file(${B_INFO_PLIST} ${contents}/Info.plist @ONLY)
  if(B_RESOURCES)
    file(GLOB_RECURSE res RELATIVE ${B_RESOURCES} CONFIGURE_DEPENDS ${B_RESOURCES}/*)
    foreach(f ${res})
      configure_file(${B_RESOURCES}/${f} ${contents}/Resources/${f} COPYONLY)
    endforeach()
  endif()
  set_property(GLOBAL APPEND PROPERTY R2740_BUNDLES ${B_NAME})
  if(NOT B_NO_INSTALL)
    set(dest ${R2740_PKGLIBDIR}/PDEs/${B_NAME}.plugin/Contents)
    install(TARGETS ${B_LIBRARY} LIBRARY DESTINATION ${dest}/lib)
    install(FILES ${contents}/Info.plist DESTINATION ${dest})
    if(B_RESOURCES)
      install(DIRECTORY ${contents}/Resources DESTINATION ${dest})
    endif()
  endif()
endfunction()
