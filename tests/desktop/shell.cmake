# Desktop tests of the application shell.
quenda_add_desktop_test(tst_remotecontrol ${CMAKE_CURRENT_LIST_DIR}/tst_remotecontrol.cpp)
target_link_libraries(tst_remotecontrol PRIVATE quenda_shell)
add_dependencies(tst_remotecontrol quenda)
target_compile_definitions(tst_remotecontrol PRIVATE QUENDA_BINARY="$<TARGET_FILE:quenda>")
set_tests_properties(tst_remotecontrol PROPERTIES ENVIRONMENT "SESSION_PARTS=bus")

# The tray application end to end, with a StatusNotifier tray of the test's own.
quenda_add_desktop_test(tst_tray_desktop ${CMAKE_CURRENT_LIST_DIR}/tst_tray_desktop.cpp)
add_dependencies(tst_tray_desktop quenda_fixture_editor quenda)
target_link_libraries(tst_tray_desktop PRIVATE Qt6::DBus PkgConfig::XLIBS)
target_compile_definitions(tst_tray_desktop PRIVATE
  QUENDA_FIXTURE_EDITOR="$<TARGET_FILE:quenda_fixture_editor>"
  QUENDA_SNI_HOST="${CMAKE_CURRENT_LIST_DIR}/fixtures/sni_host.py"
  QUENDA_BINARY="$<TARGET_FILE:quenda>")
