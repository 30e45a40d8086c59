# Desktop tests of the application shell.
quenda_add_desktop_test(tst_remotecontrol ${CMAKE_CURRENT_LIST_DIR}/tst_remotecontrol.cpp)
target_link_libraries(tst_remotecontrol PRIVATE quenda_shell)
add_dependencies(tst_remotecontrol quenda)
target_compile_definitions(tst_remotecontrol PRIVATE QUENDA_BINARY="$<TARGET_FILE:quenda>")
set_tests_properties(tst_remotecontrol PROPERTIES ENVIRONMENT "SESSION_PARTS=bus")

# The pill in a process of its own, next to a fixture editor that has the focus.
add_executable(quenda_pill_driver ${CMAKE_CURRENT_LIST_DIR}/fixtures/PillDriver.cpp)
target_link_libraries(quenda_pill_driver PRIVATE quenda_shell)
quenda_add_desktop_test(tst_floatingpill_desktop ${CMAKE_CURRENT_LIST_DIR}/tst_floatingpill_desktop.cpp)
add_dependencies(tst_floatingpill_desktop quenda_fixture_editor quenda_pill_driver)
target_compile_definitions(tst_floatingpill_desktop PRIVATE
  QUENDA_FIXTURE_EDITOR="$<TARGET_FILE:quenda_fixture_editor>"
  QUENDA_PILL_DRIVER="$<TARGET_FILE:quenda_pill_driver>")

# The tray application end to end, with a StatusNotifier tray of the test's own.
quenda_add_desktop_test(tst_tray_desktop ${CMAKE_CURRENT_LIST_DIR}/tst_tray_desktop.cpp)
add_dependencies(tst_tray_desktop quenda_fixture_editor quenda)
target_link_libraries(tst_tray_desktop PRIVATE Qt6::DBus PkgConfig::XLIBS)
target_compile_definitions(tst_tray_desktop PRIVATE
  QUENDA_FIXTURE_EDITOR="$<TARGET_FILE:quenda_fixture_editor>"
  QUENDA_SNI_HOST="${CMAKE_CURRENT_LIST_DIR}/fixtures/sni_host.py"
  QUENDA_BINARY="$<TARGET_FILE:quenda>")
