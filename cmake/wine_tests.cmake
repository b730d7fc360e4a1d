# Tests of a cross build for Windows run under Wine, in one Wine prefix for
# the whole run: ZW_WINEPREFIX, created by the fixture `wine_prefix` and
# removed again by its cleanup unless it existed before. zw_run_under_wine()
# puts a test into that prefix.
include_guard(GLOBAL)

set(ZW_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH
    "Wine prefix for the Windows tests (created and removed by ctest)")
set(ZW_WINE_PREFIX_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine_prefix.sh)

# Defined in the directory that includes this file first.
add_test(NAME wine_prefix_up COMMAND bash ${ZW_WINE_PREFIX_SCRIPT} up)
add_test(NAME wine_prefix_down COMMAND bash ${ZW_WINE_PREFIX_SCRIPT} down)
set_tests_properties(wine_prefix_up PROPERTIES FIXTURES_SETUP wine_prefix)
set_tests_properties(wine_prefix_down PROPERTIES FIXTURES_CLEANUP wine_prefix)
set_tests_properties(wine_prefix_up wine_prefix_down PROPERTIES
  ENVIRONMENT "WINEPREFIX=${ZW_WINEPREFIX};WINEDEBUG=-all")

# zw_run_under_wine(<test>...): the tests run in the shared prefix, after it
# has been created. Executable targets given to add_test() already go through
# CMAKE_CROSSCOMPILING_EMULATOR (wine).
function(zw_run_under_wine)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                 "WINEPREFIX=${ZW_WINEPREFIX}" "WINEDEBUG=-all")
  endforeach()
endfunction()
