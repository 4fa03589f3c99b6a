# The installed desktop pieces, checked as a desktop uses them; installs into a temporary prefix.
if(NOT TARGET kolmiras)
  return()
endif()
# A session bus of its own, as a desktop session has, that goes with the test.
add_test(NAME desktop_install
         COMMAND dbus-run-session -- $<TARGET_FILE:xdesktop> openbox
                 sh ${CMAKE_CURRENT_SOURCE_DIR}/desktop_install.sh
                 ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION})
set_tests_properties(desktop_install PROPERTIES TIMEOUT 120 RESOURCE_LOCK xvfb
                     LABELS "xvfb;openbox")

# The Debian package, built from this build and checked by lintian.
add_test(NAME package_lintian
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/package_lintian.sh ${PROJECT_BINARY_DIR})
set_tests_properties(package_lintian PROPERTIES TIMEOUT 600 LABELS program)
