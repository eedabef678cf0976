# The tests that only Windows has, run under wine: tav.dll's real USB path
# through a stand-in libusb0.dll, and its export table.

# The stand-in lies in bin/standin, not beside the programs: only a test that
# adds that folder (AddDllDirectory) finds it.
add_library(tav_libusb0_standin SHARED windows/libusb0_standin.cpp)
target_link_libraries(tav_libusb0_standin PRIVATE tav_static tav_warnings)
target_link_options(tav_libusb0_standin PRIVATE -Wl,--exclude-libs,ALL)
set_target_properties(tav_libusb0_standin PROPERTIES PREFIX "" OUTPUT_NAME libusb0
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin/standin)

add_executable(tav_libusb0_tests windows/libusb0_test.cpp)
target_link_libraries(tav_libusb0_tests PRIVATE tav GTest::gtest_main tav_warnings)
add_dependencies(tav_libusb0_tests tav_libusb0_standin)
add_test(NAME Libusb0StandIn COMMAND tav_libusb0_tests --gtest_filter=-WithoutLibusb0.*)
add_test(NAME WithoutLibusb0 COMMAND tav_libusb0_tests --gtest_filter=WithoutLibusb0.*)
set_tests_properties(Libusb0StandIn WithoutLibusb0 PROPERTIES TIMEOUT 120)
