# The windows of the tray application, opened over D-Bus and driven through AT-SPI as a screen reader
# does, against a loopback backend, the session's keyring and a tray of the test's own.
add_test(NAME tst_windows_desktop
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/session.sh run /usr/bin/python3
                 ${CMAKE_CURRENT_LIST_DIR}/windows/windows_desktop.py $<TARGET_FILE:quenda>
                 $<TARGET_FILE:quenda_fixture_editor> ${CMAKE_CURRENT_LIST_DIR}/fixtures/sni_host.py)
set_tests_properties(tst_windows_desktop PROPERTIES TIMEOUT 300 LABELS desktop)
